#pragma once

// What the meetings screen's tests run it over: the recorder's fixture (a real store and glossary
// in a temporary data folder, a fake engine and fake sources, ticked by hand), saved meetings of
// the test's making, in Moscow time. Motion is reduced, so the screen shows each state at once.

#include "Velmora/UI/MeetingsView.hpp"

#include "MeetingRecorderFixture.hpp"
#include "ScopedTimeZone.hpp"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

class MeetingScreenFixture : public MeetingRecorderFixture {
public:
    /// 5 December 2024, 09:30 in Moscow.
    static constexpr std::int64_t morning = 1733380200;

    MeetingScreenFixture() {
        engine->transcriber = [](const std::vector<float>& samples) {
            return samples.size() > 16000 ? std::string("Итак, начнём с бюджета.") : std::string();
        };
    }

    /// A saved meeting that started `minutesBefore` minutes before `morning`, with lines 17 s apart from 3 s on.
    Meeting save(const std::string& title, std::int64_t minutesBefore, std::int64_t durationSec,
                 const std::vector<std::pair<MeetingLine::Speaker, std::string>>& lines = {}) {
        Meeting meeting;
        meeting.title = title;
        meeting.startedAt = Date(std::chrono::seconds(morning - minutesBefore * 60));
        meeting.durationSec = durationSec;
        std::int64_t at = 3;
        for (const auto& [speaker, text] : lines) {
            meeting.lines.push_back({korbit::UUID(), at, speaker, text});
            at += 17;
        }
        store.save(meeting);
        return meeting;
    }

    /// The screen over the store and the recorder, shown at the main window's size.
    MeetingsView& open() {
        view = std::make_unique<MeetingsView>(recorder, store);
        view->resize(940, 660);
        view->show();
        QCoreApplication::processEvents();
        return *view;
    }

    ScopedEnv reduced{"VELMORA_REDUCE_MOTION", "1"};
    ScopedTimeZone moscow{"Europe/Moscow"};
    /// Goes before the recorder and the store it shows.
    std::unique_ptr<MeetingsView> view;
};

}  // namespace velmora::test
