#pragma once

// Writers that save one transcription result as a file in a folder: the whole result as JSON,
// or its timed text as SubRip or WebVTT subtitles.

#include "Tremolan/Core/Records/TranscriptionResult.hpp"

#include <any>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tremolan {

/// The outcome of a write: the written file's URL ("file:///..."), or the error that stopped it.
class WriteResult {
public:
    static WriteResult success(std::string fileURL) { return WriteResult(std::move(fileURL), nullptr); }
    static WriteResult failure(std::exception_ptr error) { return WriteResult({}, std::move(error)); }

    bool succeeded() const { return error_ == nullptr; }
    /// The file URL of a successful write ("" after a failure).
    const std::string& fileURL() const { return fileURL_; }
    std::exception_ptr error() const { return error_; }
    /// The error's message ("" after a success).
    std::string errorMessage() const;

private:
    WriteResult(std::string fileURL, std::exception_ptr error)
        : fileURL_(std::move(fileURL)), error_(std::move(error)) {}
    std::string fileURL_;
    std::exception_ptr error_;
};

/// Options of a write; no writer reads them.
using WriteOptions = std::map<std::string, std::any>;

class ResultWriting {
public:
    explicit ResultWriting(std::string outputDir) : outputDir_(std::move(outputDir)) {}
    virtual ~ResultWriting() = default;

    /// The folder written into, as a file path (a relative one counts from the working folder).
    const std::string& outputDir() const { return outputDir_; }

    /// Writes `result` to the file `fileName` plus the writer's extension in outputDir, and
    /// answers the file's URL, or the error that stopped the write. Never throws: the contents
    /// are made first, so a result that cannot be rendered leaves no file behind. The path is the
    /// kernel's to resolve, links and ".." included; the URL is absolute and has no "..", its
    /// folder resolved on disk where the path holds one.
    virtual WriteResult write(const TranscriptionResult& result, const std::string& fileName,
                              const std::optional<WriteOptions>& options = std::nullopt);

    /// "HH:MM:SS" (when hours are forced or not 0) or "MM:SS", then the marker and three digits of
    /// milliseconds. Every part is cut, never rounded, in single precision. Throws
    /// std::invalid_argument for a time that is not finite or whose hours do not fit 64 bits.
    virtual std::string formatTime(float seconds, bool alwaysIncludeHours, const std::string& decimalMarker) const;

    /// Whether formatTime can render the time.
    static bool isFormattableTime(float seconds);

    /// One SubRip cue: the index, the times with hours and ",", the text, and an empty line.
    std::string formatSegment(long index, float start, float end, const std::string& text) const;
    /// One WebVTT cue: the times with "." (hours only when needed), the text, and an empty line.
    std::string formatTiming(float start, float end, const std::string& text) const;

protected:
    /// The file name extension (".srt").
    virtual std::string fileExtension() const = 0;
    /// The bytes of the file; may throw.
    virtual std::string contents(const TranscriptionResult& result) const = 0;
    /// Whether the file is replaced as a whole (written aside, then renamed over the target).
    virtual bool writesAtomically() const = 0;

    struct Cue {
        float start;
        float end;
        std::string text;
    };
    /// The cues of a result: one per word of segments with a non-empty word list, else one per
    /// segment. Cues whose times have no text (not finite) are left out and logged.
    static std::vector<Cue> cues(const TranscriptionResult& result);
    /// Writes the bytes, replacing any file of that name; `atomically` writes a temporary file in
    /// the same folder first and renames it over the target. Throws std::system_error on failure.
    static void writeFile(const std::filesystem::path& path, const std::string& bytes, bool atomically);

    /// outputDir joined with the file name and the extension, as given (a relative one counts
    /// from the working folder).
    std::filesystem::path filePath(const std::string& fileName, const std::string& extension) const;

private:
    std::string outputDir_;
};

}  // namespace tremolan
