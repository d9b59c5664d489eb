// The glossary's file as a user or a damaged disk may leave it: read (refused only with a
// GlossaryFileError), written again, and read back as the same terms.

#include "FuzzSupport.hpp"
#include "Velmora/Post/GlossaryFile.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::chrono::sys_seconds now{std::chrono::seconds(1700000000)};
    std::vector<velmora::Term> terms;
    try {
        terms = velmora::GlossaryFile::decode(velmora::fuzz::asText(data, size), now);
    } catch (const velmora::GlossaryFileError&) {
        return 0;
    }
    const std::vector<velmora::Term> again = velmora::GlossaryFile::decode(velmora::GlossaryFile::encode(terms), now);
    if (again != terms) std::abort();
    return 0;
}
