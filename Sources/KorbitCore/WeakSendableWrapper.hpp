#pragma once

#include <memory>
#include <mutex>

namespace korbit {

/// A box around a weak reference that threads may share: it never keeps the object alive,
/// and reads as empty once the object is gone.
template <typename T>
class WeakSendableWrapper {
public:
    explicit WeakSendableWrapper(const std::shared_ptr<T>& value = nullptr) : value_(value) {}
    WeakSendableWrapper(const WeakSendableWrapper&) = delete;
    WeakSendableWrapper& operator=(const WeakSendableWrapper&) = delete;

    /// The object while it is alive, else null.
    std::shared_ptr<T> value() const {
        std::lock_guard guard(mutex_);
        return value_.lock();
    }

    void setValue(const std::shared_ptr<T>& value) {
        std::weak_ptr<T> replacement = value;
        std::lock_guard guard(mutex_);
        value_.swap(replacement);
    }

private:
    mutable std::mutex mutex_;
    std::weak_ptr<T> value_;
};

}  // namespace korbit
