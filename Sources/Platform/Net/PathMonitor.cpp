#include "Platform/Net/PathMonitor.hpp"

#include <pthread.h>

#include <optional>

namespace platform::net {
namespace {

std::mutex& factoryMutex() {
    static std::mutex mutex;
    return mutex;
}

PathMonitor::SourceFactory& factoryStorage() {
    static PathMonitor::SourceFactory factory;
    return factory;
}

std::shared_ptr<PathSource> makeDefaultSource() {
    PathMonitor::SourceFactory factory;
    {
        std::lock_guard lock(factoryMutex());
        factory = factoryStorage();
    }
    return factory ? factory() : makeSystemPathSource();
}

}  // namespace

PathMonitor::PathMonitor(std::shared_ptr<PathSource> source)
    : source_(source ? std::move(source) : makeDefaultSource()) {}

PathMonitor::~PathMonitor() {
    cancel();
}

void PathMonitor::setDefaultSourceFactory(SourceFactory factory) {
    std::lock_guard lock(factoryMutex());
    factoryStorage() = std::move(factory);
}

void PathMonitor::setUpdateHandler(UpdateHandler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void PathMonitor::start(const std::string& label) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return;
    label_ = label;
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

void PathMonitor::cancel() {
    std::jthread thread;
    {
        std::lock_guard lock(mutex_);
        thread = std::move(thread_);
    }
    if (thread.joinable()) {
        thread.request_stop();
        thread.join();
    }
}

bool PathMonitor::isRunning() const {
    std::lock_guard lock(mutex_);
    return thread_.joinable();
}

void PathMonitor::run(std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        // Thread names are limited to 15 characters.
        pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    }
    std::optional<NetworkPath> last;
    while (!stop.stop_requested()) {
        NetworkPath path = source_->currentPath();
        if (!last || *last != path) {
            last = path;
            UpdateHandler handler;
            {
                std::lock_guard lock(mutex_);
                handler = handler_;
            }
            if (handler) handler(path);
        }
        source_->waitForChange(path, stop);
    }
}

}  // namespace platform::net
