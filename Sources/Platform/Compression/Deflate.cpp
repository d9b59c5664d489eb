#include "Platform/Compression/Deflate.hpp"

#include <zlib.h>

#include <stdexcept>
#include <string>

namespace platform::compression {

namespace {

std::string messageOf(const z_stream& stream, int status) {
    return stream.msg ? stream.msg : zError(status);
}

}  // namespace

std::size_t deflatedSize(std::string_view bytes, int level) {
    z_stream stream{};
    int status = deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) throw std::runtime_error(messageOf(stream, status));
    std::string output(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<unsigned char*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    status = deflate(&stream, Z_FINISH);
    const std::size_t size = stream.total_out;
    const std::string error = status == Z_STREAM_END ? std::string() : messageOf(stream, status);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw std::runtime_error(error);
    return size;
}

}  // namespace platform::compression
