// meeting: the application's recorded meetings, as the meetings screen has them.

#include "Command.hpp"
#include "MeetingRecording.hpp"
#include "PrintableText.hpp"

#include "Velmora/Meeting/MeetingStore.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using velmora::dev::Arguments;
using velmora::dev::printable;
using Parsed = velmora::dev::ParsedArguments;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: velmora-dev meeting list\n"
    "       velmora-dev meeting show <id>\n"
    "       velmora-dev meeting record [--title T] [--seconds N]\n"
    "\n"
    "list prints the meetings in the data folder, newest first, one a line: id, start, length\n"
    "(m:ss), number of lines, title; a meetings folder that cannot be read is an error. show\n"
    "prints one meeting as plain text, as it is copied.\n"
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

/// The meeting's file names the id, whatever the meeting's own id says ("<ID>.json", any case).
bool fileNames(const fs::path& file, const korbit::UUID& id) {
    const auto named = korbit::UUID::fromString(file.stem().string());
    return named && *named == id;
}

/// The folder could not be listed: its meetings may be more than were read.
std::string unreadFolder(const velmora::MeetingStore& store) {
    return "the meetings folder " + printable(store.folder().string()) +
           " cannot be read: " + printable(store.readError().value_or(""));
}

int runList(const velmora::MeetingStore& store) {
    for (const auto& left : store.leftOut()) {
        std::fprintf(stderr, "warning: %s is left out: %s\n", printable(left.file.string()).c_str(),
                     printable(left.reason).c_str());
    }
    if (store.meetings().empty() && !store.readError()) {
        std::printf("no meetings in %s\n", printable(store.folder().string()).c_str());
        return 0;
    }
    // A title is one field of one line: a line break or a tab in it is shown, not obeyed.
    for (const auto& meeting : store.meetings()) {
        std::printf("%s\t%s\t%s\t%zu lines\t%s\n", meeting.id.uuidString().c_str(),
                    velmora::Meeting::dateText(meeting.startedAt).c_str(), length(meeting.durationSec).c_str(),
                    meeting.lines.size(), printable(meeting.title, false).c_str());
    }
    if (store.readError()) return velmora::dev::fail("meeting list: " + unreadFolder(store));
    return 0;
}

int runShow(const velmora::MeetingStore& store, const std::string& given) {
    const auto id = korbit::UUID::fromString(given);
    if (!id) throw velmora::dev::UsageError("meeting show: not a meeting id: " + given);
    // The meeting's own id first, then the name of the file it was read from.
    const auto& meetings = store.meetings();
    auto found = std::find_if(meetings.begin(), meetings.end(), [&](const auto& m) { return m.id == *id; });
    if (found == meetings.end()) {
        found = std::find_if(meetings.begin(), meetings.end(),
                             [&](const auto& m) { return fileNames(store.fileOf(m.id), *id); });
    }
    if (found != meetings.end()) {
        const std::string text = printable(found->plainText(), true);
        std::fputs(text.c_str(), stdout);
        if (!text.ends_with('\n')) std::fputc('\n', stdout);
        return 0;
    }
    for (const auto& left : store.leftOut()) {
        if (!fileNames(left.file, *id)) continue;
        return velmora::dev::fail("meeting show: the file of meeting " + id->uuidString() + ", " +
                                  printable(left.file.string()) + ", is left out: " + printable(left.reason));
    }
    if (store.readError()) return velmora::dev::fail("meeting show: " + unreadFolder(store));
    return velmora::dev::fail("meeting show: no meeting " + id->uuidString() + " in " +
                              printable(store.folder().string()));
}

int runMeeting(const Arguments& args) {
    const std::string& subcommand = velmora::dev::subcommand(args, "meeting", {"list", "show", "record"}, kUsage);
    velmora::dev::ArgumentParser parser("meeting " + subcommand, kUsage);
    if (subcommand == "show") parser.positional("id");
    // A title names the meeting in every list: an empty one is refused like other empty names.
    if (subcommand == "record") parser.option("title", velmora::dev::ArgumentParser::nonEmpty).option("seconds");
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
