// meeting: the application's recorded meetings, as the meetings screen has them.

#include "Command.hpp"
#include "MeetingRecording.hpp"

#include "Velmora/Meeting/MeetingStore.hpp"

#include <cstdio>
#include <string>

namespace {

using velmora::dev::Arguments;
using Parsed = velmora::dev::ParsedArguments;

constexpr const char* kUsage =
    "usage: velmora-dev meeting list\n"
    "       velmora-dev meeting show <id>\n"
    "       velmora-dev meeting record [--title T] [--seconds N]\n"
    "\n"
    "list prints the meetings in the data folder, newest first, one a line: id, start, length\n"
    "(m:ss), number of lines, title. show prints one meeting as plain text, as it is copied.\n"
    "record records a meeting as the program does: the default microphone is \"me\", the default\n"
    "output's sound \"others\". It downloads the on-device model first when it is not on disk\n"
    "(from HF_ENDPOINT when set), prints each line as it is transcribed (MM:SS, speaker, text; a\n"
    "line of mine later found to be an echo of the others stays printed but leaves the meeting),\n"
    "and stops on Ctrl-C or after N seconds of recording; it then waits for the last chunks.\n"
    "  --title T     the meeting's title (default: the store's title for the start time)\n"
    "  --seconds N   stop after N seconds (1 or more)\n";

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
    const std::string& subcommand = velmora::dev::subcommand(args, "meeting", {"list", "show", "record"}, kUsage);
    velmora::dev::ArgumentParser parser("meeting " + subcommand, kUsage);
    if (subcommand == "show") parser.positional("id");
    if (subcommand == "record") parser.option("title").option("seconds");
    const Parsed parsed = parser.parse(args, 1);
    if (subcommand == "record") {
        velmora::dev::MeetingRecordingOptions options;
        options.title = parsed.option("title");
        if (parsed.has("seconds")) options.seconds = parsed.integer("seconds", 0, 1, 24 * 3600);
        return velmora::dev::recordMeeting(options);
    }
    const velmora::MeetingStore& store = velmora::MeetingStore::shared();
    if (subcommand == "list") return runList(store);
    return runShow(store, parsed.positional("id"));
}

const velmora::dev::CommandRegistration registration{
    "meeting", "meeting list | show | record: the recorded meetings, and a new one", runMeeting};

}  // namespace
