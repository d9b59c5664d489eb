#include "Tremolan/Core/Decoding/Samplers/RandomSource.hpp"

namespace tremolan {

float SeededRandomSource::nextUniform() {
    // The top 24 bits: every float of the form k / 2^24, never 1.
    return static_cast<float>(engine_() >> 40) * 0x1.0p-24f;
}

std::shared_ptr<RandomSource> makeSystemRandomSource() {
    std::random_device device;
    const std::uint64_t seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    return std::make_shared<SeededRandomSource>(seed);
}

}  // namespace tremolan
