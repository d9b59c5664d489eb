#include "FuzzSupport.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace velmora::fuzz {

namespace fs = std::filesystem;

namespace {

struct Scratch {
    fs::path path;
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        fs::path base = tmp && *tmp && fs::is_directory(tmp) ? fs::path(tmp) : fs::path("/tmp");
        path = base / ("velmora-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

}  // namespace

const fs::path& scratchFolder() {
    static const Scratch scratch;
    return scratch.path;
}

fs::path writeScratch(const std::string& name, std::string_view bytes) {
    const fs::path path = scratchFolder() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
    return path;
}

std::pair<std::string_view, std::string_view> splitAtFormFeed(std::string_view input) {
    const std::size_t cut = input.find('\f');
    if (cut == std::string_view::npos) return {input, {}};
    return {input.substr(0, cut), input.substr(cut + 1)};
}

}  // namespace velmora::fuzz
