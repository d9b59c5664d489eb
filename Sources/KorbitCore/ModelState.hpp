#pragma once

#include <iosfwd>
#include <string_view>

namespace korbit {

/// The lifecycle state of a set of models.
enum class ModelState { unloading, unloaded, loading, loaded, prewarming, prewarmed, downloading, downloaded };

/// "Unloading", "Unloaded", "Loading", "Loaded", "Specializing", "Specialized", "Downloading", "Downloaded".
std::string_view description(ModelState state);
/// True while work is in progress (unloading, loading, prewarming, downloading).
bool isBusy(ModelState state);

std::ostream& operator<<(std::ostream& out, ModelState state);

}  // namespace korbit
