#pragma once

// A speech network behind a model: built from a bundle's description and weights, it maps checked
// inputs to outputs.

#include "Platform/ML/BundleManifest.hpp"
#include "Platform/ML/FeatureProvider.hpp"
#include "Platform/ML/MultiArray.hpp"

#include <map>
#include <memory>
#include <set>
#include <string>

namespace platform::ml {

class SafetensorsFile;

class Network {
public:
    virtual ~Network() = default;
    /// Inputs are present, multi-arrays of the declared shapes and of accepted element types.
    virtual std::map<std::string, MLMultiArray> predict(const MLFeatureProvider& inputs) = 0;
    /// Element types accepted for an input beyond the declared one.
    virtual std::set<MLMultiArrayDataType> alternativeTypes(const std::string&) const { return {}; }
    /// A network of the same (shared) weights with scratch and caches of its own, which may predict
    /// while this one does; nullptr when the network cannot be cloned.
    virtual std::unique_ptr<Network> clone() const { return nullptr; }
    /// Whether the state this network keeps between predictions (a cache of values derived from
    /// an input) was made from these inputs, so that predicting them here skips that work.
    virtual bool keepsStateOf(const MLFeatureProvider&) const { return false; }
};

/// Builds the network a bundle describes; weights are converted and the file may be closed after.
std::unique_ptr<Network> makeNetwork(const BundleManifest& manifest, const SafetensorsFile& weights,
                                     const std::string& where);

/// Reads an array's elements in row-major index order into floats (any strides; float16, float32,
/// int32 and the other element types).
void readAsFloats(const MLMultiArray& array, float* out);

}  // namespace platform::ml
