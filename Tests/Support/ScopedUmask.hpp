#pragma once

// A file-mode creation mask for the whole test process (and the programs it starts) while the
// object lives.

#include <sys/stat.h>

namespace velmora::test {

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

}  // namespace velmora::test
