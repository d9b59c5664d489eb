#pragma once

#include "Platform/ML/ModelConfiguration.hpp"

namespace tremolan {

/// The compute units each of the three speech models runs on.
struct ModelComputeOptions {
    platform::ml::MLComputeUnits melCompute = platform::ml::MLComputeUnits::cpuAndGPU;
    platform::ml::MLComputeUnits audioEncoderCompute = platform::ml::MLComputeUnits::cpuAndNeuralEngine;
    platform::ml::MLComputeUnits textDecoderCompute = platform::ml::MLComputeUnits::cpuAndNeuralEngine;

    bool operator==(const ModelComputeOptions&) const = default;
};

}  // namespace tremolan
