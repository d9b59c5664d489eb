#pragma once

// The children of one batch of transcriptions: each runs on a thread of its own, at most as many
// at once as the machine has processors (a larger batch queues the rest, in order).

#include <cstddef>
#include <functional>

namespace tremolan {

struct BatchRunner {
    /// Runs body(i) for every i in [0, count) and returns when all are done; the calling thread
    /// takes part. An exception of a body is rethrown here after the others finish.
    static void run(std::size_t count, const std::function<void(std::size_t)>& body);
    /// Runs at most `maxThreads` bodies at once (at least one).
    static void run(std::size_t count, const std::function<void(std::size_t)>& body, std::size_t maxThreads);
    /// The number of processors online.
    static std::size_t defaultThreads();
};

}  // namespace tremolan
