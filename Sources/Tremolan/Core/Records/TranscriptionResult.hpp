#pragma once

// The transcription of one input: a shared object whose five fields are each guarded by their
// own lock, so that results can be updated in place after transcription while callers read them.

#include "KorbitCore/PropertyLock.hpp"
#include "Tremolan/Core/Records/TranscriptionSegment.hpp"
#include "Tremolan/Core/Records/TranscriptionTimings.hpp"
#include "Tremolan/Core/Records/WordTiming.hpp"
#include "Tremolan/Utilities/JSONCoding.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

class TranscriptionResult {
public:
    TranscriptionResult(std::string text, std::vector<TranscriptionSegment> segments, std::string language,
                        TranscriptionTimings timings, std::optional<float> seekTime = std::nullopt);
    virtual ~TranscriptionResult() = default;

    // A reference type: share it through std::shared_ptr rather than copying it.
    TranscriptionResult(const TranscriptionResult&) = delete;
    TranscriptionResult& operator=(const TranscriptionResult&) = delete;

    // Each getter copies the value out under the field's lock; each setter stores under it. A
    // modify... call reads and writes back in two locked sections, so concurrent modifications
    // of one field may lose an update.
    virtual std::string text() const { return text_.wrappedValue(); }
    virtual void setText(std::string value) { text_.setWrappedValue(std::move(value)); }
    template <typename Change>
    void modifyText(Change&& change) {
        text_.modify(std::forward<Change>(change));
    }

    virtual std::vector<TranscriptionSegment> segments() const { return segments_.wrappedValue(); }
    virtual void setSegments(std::vector<TranscriptionSegment> value) { segments_.setWrappedValue(std::move(value)); }
    template <typename Change>
    void modifySegments(Change&& change) {
        segments_.modify(std::forward<Change>(change));
    }

    virtual std::string language() const { return language_.wrappedValue(); }
    virtual void setLanguage(std::string value) { language_.setWrappedValue(std::move(value)); }
    template <typename Change>
    void modifyLanguage(Change&& change) {
        language_.modify(std::forward<Change>(change));
    }

    virtual TranscriptionTimings timings() const { return timings_.wrappedValue(); }
    virtual void setTimings(TranscriptionTimings value) { timings_.setWrappedValue(std::move(value)); }
    template <typename Change>
    void modifyTimings(Change&& change) {
        timings_.modify(std::forward<Change>(change));
    }

    /// Start, in seconds, of the chunk the result came from when the input was split at silences.
    virtual std::optional<float> seekTime() const { return seekTime_.wrappedValue(); }
    virtual void setSeekTime(std::optional<float> value) { seekTime_.setWrappedValue(value); }
    template <typename Change>
    void modifySeekTime(Change&& change) {
        seekTime_.modify(std::forward<Change>(change));
    }

    /// Every segment's words in segment order, from one reading of the segments.
    std::vector<WordTiming> allWords() const;

    /// One debug line per segment: "[Segment i] [start --> end] text", i counted from 0.
    virtual void logSegments() const;
    /// The timing report, at info level.
    virtual void logTimings() const;

    /// "text", "segments", "language", "timings", "seekTime" (null when absent), each read under
    /// its lock. Throws JSONEncodingError for a number JSON cannot hold.
    virtual Json encode() const;
    /// All five keys are required; "seekTime" may be null.
    static std::shared_ptr<TranscriptionResult> decode(const Json& json);

private:
    korbit::PropertyLock<std::string> text_;
    korbit::PropertyLock<std::vector<TranscriptionSegment>> segments_;
    korbit::PropertyLock<std::string> language_;
    korbit::PropertyLock<TranscriptionTimings> timings_;
    korbit::PropertyLock<std::optional<float>> seekTime_;
};

}  // namespace tremolan
