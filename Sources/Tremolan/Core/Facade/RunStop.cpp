#include "Tremolan/Core/Facade/RunStop.hpp"

#include <utility>
#include <vector>

namespace tremolan {

using platform::sys::MutexLock;

struct RunStop::Run {
    struct Forward {
        std::stop_source* source;
        void operator()() const noexcept { source->request_stop(); }
    };

    explicit Run(std::stop_token caller) : forward(std::move(caller), Forward{&source}) {}

    std::stop_source source;
    // The caller's stop request, passed on to the run's parts on the thread that makes it.
    std::stop_callback<Forward> forward;
    platform::sys::Mutex mutex;
    std::exception_ptr failure VELMORA_GUARDED_BY(mutex);
};

/// The runs begun and not over, for their parts to find; a few at a time.
struct RunStop::Registry {
    platform::sys::Mutex mutex;
    std::vector<std::weak_ptr<Run>> runs VELMORA_GUARDED_BY(mutex);
};

RunStop::Registry& RunStop::registry() {
    static Registry registry;
    return registry;
}

RunStop::RunStop(std::stop_token stop) {
    Registry& known = registry();
    if (stop.stop_possible()) {
        // A run in the list is held by the call that began it, which takes it out before letting go.
        MutexLock lock(known.mutex);
        for (const std::weak_ptr<Run>& entry : known.runs) {
            std::shared_ptr<Run> run = entry.lock();
            if (run && run->source.get_token() == stop) {
                run_ = std::move(run);
                return;
            }
        }
    }
    run_ = std::make_shared<Run>(std::move(stop));
    began_ = true;
    MutexLock lock(known.mutex);
    known.runs.push_back(run_);
}

RunStop::~RunStop() {
    if (!began_) return;
    Registry& known = registry();
    MutexLock lock(known.mutex);
    std::erase_if(known.runs, [&](const std::weak_ptr<Run>& entry) {
        return entry.expired() || (!entry.owner_before(run_) && !run_.owner_before(entry));
    });
}

std::stop_token RunStop::token() const {
    return run_->source.get_token();
}

void RunStop::fail(std::exception_ptr failure) {
    {
        MutexLock lock(run_->mutex);
        if (!run_->failure) run_->failure = std::move(failure);
    }
    // Outside the lock: the request runs the stop callbacks that the run's parts registered.
    run_->source.request_stop();
}

std::exception_ptr RunStop::failure() const {
    MutexLock lock(run_->mutex);
    return run_->failure;
}

void RunStop::throwIfFailed() const {
    if (const std::exception_ptr failure = this->failure()) std::rethrow_exception(failure);
}

}  // namespace tremolan
