#include "OutputNames.hpp"

#include "ArgumentParser.hpp"

#include <sys/stat.h>

#include <set>

namespace velmora::dev {

namespace fs = std::filesystem;

std::vector<std::string> uniqueOutputNames(const std::vector<std::string>& inputs) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const std::string& input : inputs) {
        const std::string stem = fs::path(input).stem().string();
        std::string name = stem;
        for (int n = 2; taken.contains(name); ++n) name = stem + "-" + std::to_string(n);
        taken.insert(name);
        names.push_back(std::move(name));
    }
    return names;
}

void refuseOutputsOverInputs(const std::string& command, const std::vector<fs::path>& outputs,
                             const std::vector<fs::path>& inputs) {
    auto sameFile = [](const struct stat& a, const fs::path& path) {
        struct stat b {};
        return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    };
    for (const fs::path& output : outputs) {
        struct stat written {};
        if (output.empty() || ::stat(output.c_str(), &written) != 0 || !S_ISREG(written.st_mode)) continue;
        for (const fs::path& input : inputs) {
            std::vector<fs::path> files{input};
            std::error_code ec;
            if (fs::is_directory(input, ec))
                for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec))
                    files.push_back(it->path());
            for (const fs::path& file : files)
                if (sameFile(written, file))
                    throw UsageError(command + ": the output " + output.string() + " would overwrite the input " +
                                     file.string());
        }
    }
}

}  // namespace velmora::dev
