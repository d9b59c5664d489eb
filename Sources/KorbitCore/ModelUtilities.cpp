#include "KorbitCore/ModelUtilities.hpp"

#include "Platform/ML/BundleManifest.hpp"

#include <algorithm>
#include <vector>

namespace korbit {

namespace fs = std::filesystem;

namespace {

bool pathExists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

std::optional<int> dimension(const platform::ml::MLFeatureDescription* feature, int position) {
    if (!feature || feature->type != platform::ml::MLFeatureType::multiArray || !feature->multiArrayConstraint)
        return std::nullopt;
    const auto& shape = feature->multiArrayConstraint->shape;
    if (position < 0 || position >= static_cast<int>(shape.size())) return std::nullopt;
    return static_cast<int>(shape[static_cast<std::size_t>(position)]);
}

}  // namespace

fs::path ModelUtilities::detectModelURL(const fs::path& folder, const std::string& name) {
    const fs::path compiled = folder / (name + ".mlmodelc");
    const fs::path package = folder / (name + ".mlpackage") / platform::ml::kPackageDescriptionPath;
    if (!pathExists(compiled) && pathExists(package)) return package;
    return compiled;
}

fs::path ModelUtilities::detectModelURL(const fs::path& folder, const std::string& name, bool recursive) {
    if (!recursive) return detectModelURL(folder, name);
    const std::string fileName = name + ".mlmodelc";
    const fs::path direct = folder / fileName;
    if (pathExists(direct)) return direct;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) return direct;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->path().filename() == fileName) return it->path();
    }
    return direct;
}

std::optional<fs::path> ModelUtilities::detectModelURL(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    std::vector<fs::path> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return std::nullopt;
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries)
        if (e.extension() == ".mlmodelc") return e;
    for (const auto& e : entries)
        if (e.extension() == ".mlpackage") return e / platform::ml::kPackageDescriptionPath;
    return std::nullopt;
}

std::optional<int> ModelUtilities::getInputDimension(const platform::ml::MLModelDescription& description,
                                                     const std::string& name, int position) {
    return dimension(description.input(name), position);
}

std::optional<int> ModelUtilities::getOutputDimension(const platform::ml::MLModelDescription& description,
                                                      const std::string& name, int position) {
    return dimension(description.output(name), position);
}

std::optional<int> ModelUtilities::getModelInputDimension(const platform::ml::MLModel* model, const std::string& name,
                                                          int position) {
    if (!model) return std::nullopt;
    return getInputDimension(model->modelDescription(), name, position);
}

std::optional<int> ModelUtilities::getModelOutputDimension(const platform::ml::MLModel* model, const std::string& name,
                                                           int position) {
    if (!model) return std::nullopt;
    return getOutputDimension(model->modelDescription(), name, position);
}

}  // namespace korbit
