#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace korbit {

/// Fans states out to any number of readers. A new reader first receives the latest state (or,
/// before any, the initial state), then every later one; nothing is ever dropped. When the
/// broadcaster goes away its readers see the end of their stream.
template <typename T>
class Broadcaster {
    struct Queue {
        std::mutex mutex;
        std::condition_variable_any ready;
        std::deque<T> items;
        bool closed = false;

        void push(const T& item) {
            {
                std::lock_guard lock(mutex);
                if (closed) return;
                items.push_back(item);
            }
            ready.notify_all();
        }
        void close() {
            {
                std::lock_guard lock(mutex);
                closed = true;
            }
            ready.notify_all();
        }
    };

public:
    /// The reading end of one subscription.
    class Subscription {
    public:
        Subscription() = default;
        explicit Subscription(std::shared_ptr<Queue> queue) : queue_(std::move(queue)) {}
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&&) noexcept = default;
        ~Subscription() {
            if (queue_) queue_->close();
        }

        /// The next state, waiting for it; absent once the stream has ended (or stop was requested).
        std::optional<T> next(std::stop_token stop = {}) {
            if (!queue_) return std::nullopt;
            std::unique_lock lock(queue_->mutex);
            queue_->ready.wait(lock, stop, [&] { return !queue_->items.empty() || queue_->closed; });
            if (queue_->items.empty()) return std::nullopt;
            T item = std::move(queue_->items.front());
            queue_->items.pop_front();
            return item;
        }

    private:
        std::shared_ptr<Queue> queue_;
    };

    explicit Broadcaster(std::function<std::optional<T>()> initialState) : initialState_(std::move(initialState)) {}
    ~Broadcaster() {
        std::lock_guard lock(mutex_);
        for (auto& [id, weak] : continuations_) {
            if (auto queue = weak.lock()) queue->close();
        }
    }
    Broadcaster(const Broadcaster&) = delete;
    Broadcaster& operator=(const Broadcaster&) = delete;

    Subscription subscribe() {
        auto queue = std::make_shared<Queue>();
        std::optional<T> initial = initialState_ ? initialState_() : std::nullopt;
        std::lock_guard lock(mutex_);
        if (latestState_) {
            queue->push(*latestState_);
        } else if (initial) {
            queue->push(*initial);
        }
        std::erase_if(continuations_, [](const auto& entry) { return entry.second.expired(); });
        continuations_.emplace(nextId_++, queue);
        return Subscription(queue);
    }

    void broadcast(const T& state) {
        std::lock_guard lock(mutex_);
        latestState_ = state;
        for (auto& [id, weak] : continuations_) {
            if (auto queue = weak.lock()) queue->push(state);
        }
    }

    std::optional<T> latestState() const {
        std::lock_guard lock(mutex_);
        return latestState_;
    }

private:
    std::function<std::optional<T>()> initialState_;
    mutable std::mutex mutex_;
    std::optional<T> latestState_;
    std::map<std::uint64_t, std::weak_ptr<Queue>> continuations_;
    std::uint64_t nextId_ = 0;
};

}  // namespace korbit
