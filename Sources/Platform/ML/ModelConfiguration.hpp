#pragma once

namespace platform::ml {

/// Where a model may run. Accepted and recorded; this runtime computes on the CPU in every case.
enum class MLComputeUnits : int { cpuOnly = 0, cpuAndGPU = 1, all = 2, cpuAndNeuralEngine = 3 };

struct MLModelConfiguration {
    MLComputeUnits computeUnits = MLComputeUnits::all;
};

/// Options of one prediction; none change what this runtime computes.
struct MLPredictionOptions {};

}  // namespace platform::ml
