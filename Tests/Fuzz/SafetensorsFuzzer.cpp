// A weights file: the safetensors header (length, JSON table of tensors) and the byte ranges it
// claims. Every tensor the file accepts is read end to end, so that a range past the mapping shows.

#include "FuzzSupport.hpp"
#include "Platform/ML/Safetensors.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = velmora::fuzz::writeScratch("weights.safetensors", velmora::fuzz::asText(data, size));
    try {
        const platform::ml::SafetensorsFile file(path);
        unsigned checksum = 0;
        for (const auto& [name, tensor] : file.tensors()) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(tensor.data);
            for (std::size_t i = 0; i < tensor.bytes; ++i) checksum += bytes[i];
            if (tensor.count() <= (1 << 16)) (void)tensor.toFloat();
            (void)file.find(name);
        }
        volatile unsigned sink = checksum;
        (void)sink;
    } catch (const std::exception&) {
    }
    return 0;
}
