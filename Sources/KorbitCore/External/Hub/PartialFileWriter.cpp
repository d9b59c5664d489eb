#include "KorbitCore/External/Hub/PartialFileWriter.hpp"

#include "KorbitCore/External/Hub/CacheFile.hpp"
#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

namespace korbit {

PartialFileWriter::PartialFileWriter(std::filesystem::path path) : path_(std::move(path)) {
    fd_ = openCacheFile(path_, O_WRONLY, "cannot open the partial file");
    if (fd_ < 0) fail("cannot open the partial file");
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        errno = error;
        fail("cannot seek in the partial file");
    }
    size_ = end;
    writeBackFrom_ = end;
}

PartialFileWriter::~PartialFileWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void PartialFileWriter::fail(const char* what) const {
    const int error = errno;
    std::string message = std::string(what) + " " + path_.string();
    // The transfer keeps what it wrote: the next one resumes there once room is made.
    if (error == ENOSPC || error == EDQUOT)
        message += ": the disk is full; the bytes written so far stay there for the next try";
    throw std::system_error(error, std::generic_category(), message);
}

void PartialFileWriter::append(const char* data, std::size_t size) {
    if (!platform::sys::writeAll(fd_, data, size)) fail("cannot write the partial file");
    size_ += static_cast<std::int64_t>(size);
    if (size_ - writeBackFrom_ >= kWriteBackStep) {
        platform::sys::startWriteBack(fd_, writeBackFrom_, size_ - writeBackFrom_);
        writeBackFrom_ = size_;
    }
}

void PartialFileWriter::truncate(std::int64_t size) {
    size = std::clamp<std::int64_t>(size, 0, size_);
    if (::ftruncate(fd_, size) != 0 || ::lseek(fd_, size, SEEK_SET) < 0) fail("cannot truncate the partial file");
    size_ = size;
    writeBackFrom_ = std::min(writeBackFrom_, size);
}

void PartialFileWriter::flushAndClose() {
    if (::fdatasync(fd_) != 0) fail("cannot flush the partial file");
    const int closing = fd_;
    fd_ = -1;
    if (::close(closing) != 0) fail("cannot close the partial file");
}

}  // namespace korbit
