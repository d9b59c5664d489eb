#pragma once

// The safetensors weight format: an 8-byte little-endian header length, a JSON header naming each
// tensor's element type, shape and byte range, then the raw little-endian data.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::ml {

class SafetensorsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TensorDataType { F16, BF16, F32, F64, I8, U8, I16, I32, I64, BOOL };

std::size_t tensorElementSize(TensorDataType type);
std::string tensorDataTypeName(TensorDataType type);

struct TensorView {
    std::string name;
    TensorDataType dataType = TensorDataType::F32;
    std::vector<std::int64_t> shape;
    const std::byte* data = nullptr;
    std::size_t bytes = 0;

    std::int64_t count() const;
    /// The elements widened to float (F16, BF16, F32, F64 and the integer types).
    std::vector<float> toFloat() const;
};

/// A memory-mapped safetensors file. Views stay valid while the object lives.
class SafetensorsFile {
public:
    /// Maps and checks the file; every problem (missing, truncated, malformed header, unknown element
    /// type, a byte range that does not fit the shape) throws SafetensorsError naming it.
    explicit SafetensorsFile(const std::filesystem::path& path);
    ~SafetensorsFile();
    SafetensorsFile(const SafetensorsFile&) = delete;
    SafetensorsFile& operator=(const SafetensorsFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    bool contains(const std::string& name) const { return tensors_.count(name) != 0; }
    const TensorView* find(const std::string& name) const;
    const std::map<std::string, TensorView>& tensors() const { return tensors_; }
    const std::map<std::string, std::string>& metadata() const { return metadata_; }
    /// Drops the mapped pages of a tensor from the process's resident memory once it has been copied
    /// (reading it again maps them back from the file), so loading never holds a model twice.
    void release(const TensorView& tensor) const;

private:
    std::filesystem::path path_;
    void* mapping_ = nullptr;
    std::size_t mappedBytes_ = 0;
    std::map<std::string, TensorView> tensors_;
    std::map<std::string, std::string> metadata_;
};

/// One tensor to write: its bytes are copied as given (little-endian).
struct TensorData {
    std::string name;
    TensorDataType dataType = TensorDataType::F32;
    std::vector<std::int64_t> shape;
    std::vector<std::byte> bytes;
    /// Bytes held elsewhere (a mapped file that outlives the write); used when `bytes` is empty.
    const std::byte* external = nullptr;
    std::size_t externalBytes = 0;

    std::size_t size() const { return bytes.empty() ? externalBytes : bytes.size(); }
    const std::byte* begin() const { return bytes.empty() ? external : bytes.data(); }

    static TensorData fromFloats(std::string name, std::vector<std::int64_t> shape, const std::vector<float>& values,
                                 TensorDataType storeAs);
};

/// Writes a safetensors file (atomically: a temporary file renamed into place).
void writeSafetensors(const std::filesystem::path& path, const std::vector<TensorData>& tensors,
                      const std::map<std::string, std::string>& metadata = {});

}  // namespace platform::ml
