#include "Platform/ML/Safetensors.hpp"

#include "Platform/ML/Float16.hpp"
#include "Platform/Sys/AtomicFileWriter.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>

namespace platform::ml {

namespace {

struct TypeInfo {
    const char* name;
    TensorDataType type;
    std::size_t size;
};

constexpr TypeInfo kTypes[] = {
    {"F16", TensorDataType::F16, 2},   {"BF16", TensorDataType::BF16, 2}, {"F32", TensorDataType::F32, 4},
    {"F64", TensorDataType::F64, 8},   {"I8", TensorDataType::I8, 1},     {"U8", TensorDataType::U8, 1},
    {"I16", TensorDataType::I16, 2},   {"I32", TensorDataType::I32, 4},   {"I64", TensorDataType::I64, 8},
    {"BOOL", TensorDataType::BOOL, 1},
};

std::string describe(const std::filesystem::path& path) {
    return path.filename().string();
}

float bf16ToFloat(std::uint16_t bits) {
    std::uint32_t f = static_cast<std::uint32_t>(bits) << 16;
    float out;
    std::memcpy(&out, &f, 4);
    return out;
}

template <typename T>
T load(const std::byte* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

std::size_t tensorElementSize(TensorDataType type) {
    for (const auto& t : kTypes)
        if (t.type == type) return t.size;
    return 0;
}

std::string tensorDataTypeName(TensorDataType type) {
    for (const auto& t : kTypes)
        if (t.type == type) return t.name;
    return "?";
}

std::int64_t TensorView::count() const {
    std::int64_t n = 1;
    for (auto d : shape) n *= d;
    return n;
}

std::vector<float> TensorView::toFloat() const {
    const auto n = static_cast<std::size_t>(count());
    std::vector<float> out(n);
    const std::size_t size = tensorElementSize(dataType);
    switch (dataType) {
        case TensorDataType::F16:
            if (reinterpret_cast<std::uintptr_t>(data) % 2 == 0) {
                convertHalfToFloat(reinterpret_cast<const std::uint16_t*>(data), out.data(), n);
            } else {
                for (std::size_t i = 0; i < n; ++i) out[i] = halfBitsToFloat(load<std::uint16_t>(data + i * 2));
            }
            break;
        case TensorDataType::F32:
            if (n > 0) std::memcpy(out.data(), data, n * 4);
            break;
        default:
            for (std::size_t i = 0; i < n; ++i) {
                const std::byte* p = data + i * size;
                switch (dataType) {
                    case TensorDataType::BF16:
                        out[i] = bf16ToFloat(load<std::uint16_t>(p));
                        break;
                    case TensorDataType::F64:
                        out[i] = static_cast<float>(load<double>(p));
                        break;
                    case TensorDataType::I8:
                        out[i] = static_cast<float>(load<std::int8_t>(p));
                        break;
                    case TensorDataType::U8:
                    case TensorDataType::BOOL:
                        out[i] = static_cast<float>(load<std::uint8_t>(p));
                        break;
                    case TensorDataType::I16:
                        out[i] = static_cast<float>(load<std::int16_t>(p));
                        break;
                    case TensorDataType::I32:
                        out[i] = static_cast<float>(load<std::int32_t>(p));
                        break;
                    case TensorDataType::I64:
                        out[i] = static_cast<float>(load<std::int64_t>(p));
                        break;
                    default:
                        break;
                }
            }
    }
    return out;
}

SafetensorsFile::SafetensorsFile(const std::filesystem::path& path) : path_(path) {
    const std::string file = describe(path);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw SafetensorsError("Cannot open weights file " + path.string() + ": " + std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw SafetensorsError("Weights file " + path.string() + " is not a regular file");
    }
    mappedBytes_ = static_cast<std::size_t>(st.st_size);
    if (mappedBytes_ < 8) {
        ::close(fd);
        throw SafetensorsError("Weights file " + file + " is truncated: " + std::to_string(mappedBytes_) +
                               " bytes, shorter than its 8-byte header length");
    }
    mapping_ = mmap(nullptr, mappedBytes_, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapping_ == MAP_FAILED) {
        mapping_ = nullptr;
        throw SafetensorsError("Cannot map weights file " + path.string() + ": " + std::strerror(errno));
    }
    try {
        const auto* base = static_cast<const std::byte*>(mapping_);
        const auto headerLength = load<std::uint64_t>(base);
        if (headerLength > mappedBytes_ - 8)
            throw SafetensorsError("Weights file " + file + " is truncated: its header claims " +
                                   std::to_string(headerLength) + " bytes but the file holds " +
                                   std::to_string(mappedBytes_ - 8) + " after the length");
        const char* headerText = reinterpret_cast<const char*>(base + 8);
        nlohmann::json header = nlohmann::json::parse(headerText, headerText + headerLength, nullptr, false);
        if (header.is_discarded() || !header.is_object())
            throw SafetensorsError("Weights file " + file + " has a malformed header (not a JSON object)");
        const std::byte* dataStart = base + 8 + headerLength;
        const std::size_t dataBytes = mappedBytes_ - 8 - headerLength;

        for (auto it = header.begin(); it != header.end(); ++it) {
            const std::string& name = it.key();
            if (name == "__metadata__") {
                if (it->is_object())
                    for (auto m = it->begin(); m != it->end(); ++m)
                        if (m->is_string()) metadata_[m.key()] = m->get<std::string>();
                continue;
            }
            const auto& entry = *it;
            const std::string where = "Weights file " + file + ": tensor \"" + name + "\" ";
            if (!entry.is_object() || !entry.contains("dtype") || !entry["dtype"].is_string() ||
                !entry.contains("shape") || !entry["shape"].is_array() || !entry.contains("data_offsets") ||
                !entry["data_offsets"].is_array() || entry["data_offsets"].size() != 2)
                throw SafetensorsError(where + "has a malformed entry (needs dtype, shape and data_offsets)");
            TensorView view;
            view.name = name;
            const std::string dtype = entry["dtype"].get<std::string>();
            bool known = false;
            for (const auto& t : kTypes)
                if (dtype == t.name) {
                    view.dataType = t.type;
                    known = true;
                }
            if (!known) throw SafetensorsError(where + "has an unknown element type \"" + dtype + "\"");
            std::uint64_t count = 1;
            for (const auto& d : entry["shape"]) {
                if (!d.is_number_unsigned()) throw SafetensorsError(where + "has a shape that is not a list of sizes");
                const auto dim = d.get<std::uint64_t>();
                if (dim != 0 && count > std::numeric_limits<std::uint32_t>::max() * 16ull / dim)
                    throw SafetensorsError(where + "has a shape too large to hold");
                count *= dim;
                view.shape.push_back(static_cast<std::int64_t>(dim));
            }
            const auto& offsets = entry["data_offsets"];
            if (!offsets[0].is_number_unsigned() || !offsets[1].is_number_unsigned())
                throw SafetensorsError(where + "has data offsets that are not byte positions");
            const auto begin = offsets[0].get<std::uint64_t>();
            const auto end = offsets[1].get<std::uint64_t>();
            if (begin > end) throw SafetensorsError(where + "has data offsets out of order");
            const std::uint64_t expected = count * tensorElementSize(view.dataType);
            if (end - begin != expected)
                throw SafetensorsError(where + "spans " + std::to_string(end - begin) + " bytes but its shape and " +
                                       dtype + " need " + std::to_string(expected));
            if (end > dataBytes)
                throw SafetensorsError("Weights file " + file + " is truncated: tensor \"" + name + "\" ends at byte " +
                                       std::to_string(end) + " of the data but the file holds " +
                                       std::to_string(dataBytes));
            view.data = dataStart + begin;
            view.bytes = static_cast<std::size_t>(expected);
            tensors_.emplace(name, std::move(view));
        }
    } catch (...) {
        munmap(mapping_, mappedBytes_);
        mapping_ = nullptr;
        throw;
    }
}

SafetensorsFile::~SafetensorsFile() {
    if (mapping_) munmap(mapping_, mappedBytes_);
}

void SafetensorsFile::release(const TensorView& tensor) const {
    if (!mapping_ || tensor.bytes == 0) return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto base = reinterpret_cast<std::uintptr_t>(mapping_);
    const auto begin = reinterpret_cast<std::uintptr_t>(tensor.data) / page * page;
    const auto end = std::min(base + mappedBytes_,
                              (reinterpret_cast<std::uintptr_t>(tensor.data) + tensor.bytes + page - 1) / page * page);
    if (begin < base || end <= begin) return;
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

const TensorView* SafetensorsFile::find(const std::string& name) const {
    auto it = tensors_.find(name);
    return it == tensors_.end() ? nullptr : &it->second;
}

TensorData TensorData::fromFloats(std::string name, std::vector<std::int64_t> shape, const std::vector<float>& values,
                                  TensorDataType storeAs) {
    TensorData t;
    t.name = std::move(name);
    t.shape = std::move(shape);
    t.dataType = storeAs;
    if (storeAs == TensorDataType::F16) {
        t.bytes.resize(values.size() * 2);
        convertFloatToHalf(values.data(), reinterpret_cast<std::uint16_t*>(t.bytes.data()), values.size());
    } else if (storeAs == TensorDataType::F32) {
        t.bytes.resize(values.size() * 4);
        std::memcpy(t.bytes.data(), values.data(), t.bytes.size());
    } else {
        throw SafetensorsError("Tensors are written as F16 or F32 only");
    }
    return t;
}

void writeSafetensors(const std::filesystem::path& path, const std::vector<TensorData>& tensors,
                      const std::map<std::string, std::string>& metadata) {
    // Data in name order, as the header (a sorted JSON object) lists them.
    std::vector<const TensorData*> ordered;
    for (const auto& t : tensors) ordered.push_back(&t);
    std::sort(ordered.begin(), ordered.end(), [](auto* a, auto* b) { return a->name < b->name; });
    nlohmann::json header = nlohmann::json::object();
    if (!metadata.empty()) header["__metadata__"] = metadata;
    std::uint64_t offset = 0;
    for (const auto* t : ordered) {
        std::uint64_t count = 1;
        for (auto d : t->shape) count *= static_cast<std::uint64_t>(d);
        if (count * tensorElementSize(t->dataType) != t->size())
            throw SafetensorsError("Tensor \"" + t->name + "\" holds " + std::to_string(t->size()) +
                                   " bytes, not what its shape needs");
        if (header.contains(t->name)) throw SafetensorsError("Tensor \"" + t->name + "\" is given twice");
        header[t->name] = {{"dtype", tensorDataTypeName(t->dataType)},
                           {"shape", t->shape},
                           {"data_offsets", {offset, offset + t->size()}}};
        offset += t->size();
    }
    std::string text = header.dump();
    while ((8 + text.size()) % 8 != 0) text.push_back(' ');  // keeps the data 8-byte aligned

    try {
        platform::sys::AtomicFileWriter out(path);
        const std::uint64_t length = text.size();
        out.write(&length, 8);
        out.write(text);
        for (const auto* t : ordered) out.write(t->begin(), t->size());
        out.commit();
    } catch (const std::system_error& e) {
        throw SafetensorsError(e.what());
    }
}

}  // namespace platform::ml
