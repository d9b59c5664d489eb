#pragma once

// Finding a model bundle in a folder, and reading the sizes of a loaded model's features.

#include "Platform/ML/Model.hpp"
#include "Platform/ML/ModelDescription.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace korbit {

struct ModelUtilities {
    /// `<name>.mlmodelc` in the folder, unless only `<name>.mlpackage/Data/com.apple.CoreML/model.mlmodel`
    /// exists, which is then given. Always a path, even when nothing exists there.
    static std::filesystem::path detectModelURL(const std::filesystem::path& folder, const std::string& name);
    /// Recursive: `<name>.mlmodelc` directly in the folder, else the first entry of that exact name
    /// anywhere below it (packages are not considered), else the direct path.
    static std::filesystem::path detectModelURL(const std::filesystem::path& folder, const std::string& name,
                                                bool recursive);
    /// The first `*.mlmodelc` entry of the folder, else the first `*.mlpackage` (its description file);
    /// absent when there is neither or the folder cannot be listed. Entries are taken in name order.
    static std::optional<std::filesystem::path> detectModelURL(const std::filesystem::path& folder);

    /// shape[position] of a multi-array input of the model; absent for no model, an unknown name, a
    /// feature that is not a constrained multi-array, or a position outside the shape.
    static std::optional<int> getModelInputDimension(const platform::ml::MLModel* model, const std::string& name,
                                                     int position);
    static std::optional<int> getModelOutputDimension(const platform::ml::MLModel* model, const std::string& name,
                                                      int position);
    /// The same over a model description.
    static std::optional<int> getInputDimension(const platform::ml::MLModelDescription& description,
                                                const std::string& name, int position);
    static std::optional<int> getOutputDimension(const platform::ml::MLModelDescription& description,
                                                 const std::string& name, int position);
};

}  // namespace korbit
