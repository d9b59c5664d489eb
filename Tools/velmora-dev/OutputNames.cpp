#include "OutputNames.hpp"

#include <filesystem>
#include <set>

namespace velmora::dev {

std::vector<std::string> uniqueOutputNames(const std::vector<std::string>& inputs) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const std::string& input : inputs) {
        const std::string stem = std::filesystem::path(input).stem().string();
        std::string name = stem;
        for (int n = 2; taken.contains(name); ++n) name = stem + "-" + std::to_string(n);
        taken.insert(name);
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace velmora::dev
