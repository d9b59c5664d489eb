#include "OutputNames.hpp"

#include "ArgumentParser.hpp"

#include <sys/stat.h>

#include <map>
#include <set>
#include <utility>

namespace velmora::dev {

namespace fs = std::filesystem;

namespace {

/// A file as the file system knows it, whatever names it has.
using FileId = std::pair<dev_t, ino_t>;

/// The input files found so far, each with the first path it was found by.
using InputFiles = std::map<FileId, fs::path>;

FileId idOf(const struct stat& info) {
    return {info.st_dev, info.st_ino};
}

/// A model's bundle: a folder whose files the model's load reads, however deep they lie.
bool isBundle(const fs::path& path) {
    return path.extension() == ".mlmodelc" || path.extension() == ".mlpackage";
}

/// The files in the folder, and those within its bundles; with `deep`, those within every folder
/// in it. Links are followed as the kernel follows them; a folder reached again (a link back up)
/// is not walked again.
void addFilesIn(const fs::path& folder, bool deep, std::set<FileId>& walked, InputFiles& files) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat info {};
        if (::stat(it->path().c_str(), &info) != 0) continue;
        if (S_ISREG(info.st_mode)) files.emplace(idOf(info), it->path());
        if (S_ISDIR(info.st_mode) && (deep || isBundle(it->path())) && walked.insert(idOf(info)).second)
            addFilesIn(it->path(), true, walked, files);
    }
}

/// The files of one input: a file itself; for a folder, the files directly in it (a tokenizer's)
/// and every file of the bundles in it (a model's).
void addInput(const fs::path& input, InputFiles& files) {
    struct stat info {};
    if (::stat(input.c_str(), &info) != 0) return;
    if (S_ISREG(info.st_mode)) files.emplace(idOf(info), input);
    if (!S_ISDIR(info.st_mode)) return;
    std::set<FileId> walked{idOf(info)};
    addFilesIn(input, false, walked, files);
}

}  // namespace

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
    std::vector<std::pair<fs::path, FileId>> existing;
    for (const fs::path& output : outputs) {
        struct stat written {};
        if (output.empty() || ::stat(output.c_str(), &written) != 0 || !S_ISREG(written.st_mode)) continue;
        existing.emplace_back(output, idOf(written));
    }
    // Outputs that are all new need no look at the inputs (a model's many files).
    if (existing.empty()) return;
    InputFiles files;
    for (const fs::path& input : inputs) addInput(input, files);
    for (const auto& [output, id] : existing) {
        if (const auto input = files.find(id); input != files.end())
            throw UsageError(command + ": the output " + output.string() + " would overwrite the input " +
                             input->second.string());
    }
}

}  // namespace velmora::dev
