#include "Platform/Audio/Resampler.hpp"

#include "Platform/Audio/AudioFile.hpp"

#include <soxr.h>

#include <cmath>
#include <string>

namespace platform::audio {

std::vector<float> resample(const std::vector<float>& samples, double fromRate, double toRate) {
    if (!(fromRate > 0) || !(toRate > 0))
        throw AudioError("Cannot resample from " + std::to_string(fromRate) + " Hz to " + std::to_string(toRate) +
                         " Hz");
    if (fromRate == toRate || samples.empty()) return samples;
    const auto outLength = static_cast<std::size_t>(std::ceil(static_cast<double>(samples.size()) * toRate / fromRate));
    std::vector<float> out(outLength);
    std::size_t produced = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_error_t error = soxr_oneshot(fromRate, toRate, 1, samples.data(), samples.size(), nullptr, out.data(),
                                            out.size(), &produced, &io, &quality, nullptr);
    if (error) throw AudioError(std::string("Resampling failed: ") + error);
    out.resize(produced);
    return out;
}

}  // namespace platform::audio
