#pragma once

// The stop of one transcription call, shared by every part of it: the windows of its runs, the
// children of its batches and the pieces of a recording cut at silences. It stops when the
// caller's token does, or when a callback of the call fails; then every part ends at its next
// step, as on the caller's stop, and the first failure is kept for the call to throw. The facade's
// roads reach one another through their public operations, which take only a stop token, so a
// part finds the run it belongs to by the token it was handed.

#include "Platform/Sys/Mutex.hpp"

#include <exception>
#include <memory>
#include <stop_token>

namespace tremolan {

class RunStop {
public:
    /// Joins the run whose token `stop` is. Otherwise begins a run that stops with `stop`, found
    /// by its token until this object is destroyed.
    explicit RunStop(std::stop_token stop);
    ~RunStop();
    RunStop(const RunStop&) = delete;
    RunStop& operator=(const RunStop&) = delete;

    /// What the run's parts are handed.
    std::stop_token token() const;
    /// Keeps the first failure and asks every part of the run to stop.
    void fail(std::exception_ptr failure);
    /// The first failure of the run, or none.
    std::exception_ptr failure() const;
    /// Throws the run's failure when it has one.
    void throwIfFailed() const;

private:
    struct Run;
    struct Registry;
    static Registry& registry();

    std::shared_ptr<Run> run_;
    bool began_ = false;
};

}  // namespace tremolan
