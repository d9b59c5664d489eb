// meeting: the application's recorded meetings, as the meetings screen has them.

#include "Command.hpp"

#include "Velmora/Meeting/MeetingStore.hpp"

#include <cstdio>
#include <string>

namespace {

using velmora::dev::Arguments;
using Parsed = velmora::dev::ParsedArguments;

constexpr const char* kUsage =
    "usage: velmora-dev meeting list\n"
    "       velmora-dev meeting show <id>\n"
    "\n"
    "list prints the meetings in the data folder, newest first, one a line: id, start, length\n"
    "(m:ss), number of lines, title. show prints one meeting as plain text, as it is copied.\n";

std::string length(std::int64_t seconds) {
    const std::string rest = std::to_string(seconds % 60);
    return std::to_string(seconds / 60) + ":" + (rest.size() < 2 ? "0" : "") + rest;
}

int runList(const velmora::MeetingStore& store) {
    if (store.meetings().empty()) {
        std::printf("no meetings in %s\n", store.folder().c_str());
        return 0;
    }
    for (const auto& meeting : store.meetings()) {
        std::printf("%s\t%s\t%s\t%zu lines\t%s\n", meeting.id.uuidString().c_str(),
                    velmora::Meeting::dateText(meeting.startedAt).c_str(), length(meeting.durationSec).c_str(),
                    meeting.lines.size(), meeting.title.c_str());
    }
    return 0;
}

int runShow(const velmora::MeetingStore& store, const std::string& given) {
    const auto id = korbit::UUID::fromString(given);
    if (!id) throw velmora::dev::UsageError("meeting show: not a meeting id: " + given);
    for (const auto& meeting : store.meetings()) {
        if (meeting.id != *id) continue;
        const std::string text = meeting.plainText();
        std::fputs(text.c_str(), stdout);
        if (!text.ends_with('\n')) std::fputc('\n', stdout);
        return 0;
    }
    return velmora::dev::fail("meeting show: no meeting " + id->uuidString() + " in " + store.folder().string());
}

int runMeeting(const Arguments& args) {
    const std::string& subcommand = velmora::dev::subcommand(args, "meeting", {"list", "show"}, kUsage);
    velmora::dev::ArgumentParser parser("meeting " + subcommand, kUsage);
    if (subcommand == "show") parser.positional("id");
    const Parsed parsed = parser.parse(args, 1);
    const velmora::MeetingStore& store = velmora::MeetingStore::shared();
    if (subcommand == "list") return runList(store);
    return runShow(store, parsed.positional("id"));
}

const velmora::dev::CommandRegistration registration{"meeting", "meeting list | show: the recorded meetings",
                                                     runMeeting};

}  // namespace
