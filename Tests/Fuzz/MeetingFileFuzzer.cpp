// A meeting's JSON file as a user, a sync tool or a damaged disk may leave it: read, shown as the
// screens and the tool show it, and written again, which must read back as the same meeting.

#include "FuzzSupport.hpp"
#include "Velmora/Meeting/MeetingFile.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<velmora::Meeting> meeting = velmora::MeetingFile::decode(velmora::fuzz::asText(data, size));
    if (!meeting) return 0;
    (void)meeting->words();
    (void)meeting->blocks();
    (void)meeting->plainText();
    const std::optional<velmora::Meeting> again = velmora::MeetingFile::decode(velmora::MeetingFile::encode(*meeting));
    if (!again || !(*again == *meeting)) std::abort();
    return 0;
}
