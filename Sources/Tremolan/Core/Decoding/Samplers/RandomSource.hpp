#pragma once

// The random draws of sampling above temperature 0. Injectable, so that a seeded source makes a
// decoding repeatable.

#include <cstdint>
#include <memory>
#include <random>

namespace tremolan {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    /// A uniform draw from [0, 1).
    virtual float nextUniform() = 0;
};

/// A source that gives the same draws for the same seed.
class SeededRandomSource : public RandomSource {
public:
    explicit SeededRandomSource(std::uint64_t seed) : engine_(seed) {}
    float nextUniform() override;

private:
    std::mt19937_64 engine_;
};

/// A seeded source whose seed comes from the system's random device.
std::shared_ptr<RandomSource> makeSystemRandomSource();

}  // namespace tremolan
