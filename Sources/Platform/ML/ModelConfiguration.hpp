#pragma once

namespace platform::ml {

/// Where a model may run. Accepted and recorded; this runtime computes on the CPU in every case.
enum class MLComputeUnits : int { cpuOnly = 0, cpuAndGPU = 1, all = 2, cpuAndNeuralEngine = 3 };

struct MLModelConfiguration {
    MLComputeUnits computeUnits = MLComputeUnits::all;
    /// How many predictions of one model may run at once, each on an instance of its own (the
    /// loaded network or a clone with its own scratch and caches); later calls wait. 0 is the
    /// compute pool's thread count: more parallel calls than processors gain nothing.
    int maxInstances = 0;
};

/// Options of one prediction; none change what this runtime computes.
struct MLPredictionOptions {};

}  // namespace platform::ml
