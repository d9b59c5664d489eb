#pragma once

// A value guarded by a lock, for fields that several threads read and write.

#include "KorbitCore/UnfairLock.hpp"

#include <nlohmann/json_fwd.hpp>

#include <concepts>
#include <memory>
#include <utility>

namespace korbit {

/// Each single read or write is atomic. Copies carry their own value but share the lock of the
/// property they were copied from. `modify` reads and writes back separately, so two
/// concurrent modifications may both start from the same old value.
template <typename Value>
class PropertyLock {
public:
    PropertyLock() requires std::default_initializable<Value> : lock_(std::make_shared<UnfairLock>()), value_() {}
    PropertyLock(Value wrappedValue) : lock_(std::make_shared<UnfairLock>()), value_(std::move(wrappedValue)) {}

    PropertyLock(const PropertyLock& other) : lock_(other.lock_), value_(other.wrappedValue()) {}
    PropertyLock& operator=(const PropertyLock& other) {
        if (this != &other) {
            Value copy = other.wrappedValue();
            lock_ = other.lock_;
            setWrappedValue(std::move(copy));
        }
        return *this;
    }

    /// A copy of the value, taken under the lock.
    Value wrappedValue() const {
        return lock_->withLock([this] { return value_; });
    }

    void setWrappedValue(Value newValue) {
        // The old value is destroyed after the lock is released.
        lock_->withLock([&] { std::swap(value_, newValue); });
    }

    /// Hands the caller a copy to change and writes it back, also when the change throws.
    template <typename Change>
    void modify(Change&& change) {
        Value copy = wrappedValue();
        struct WriteBack {
            PropertyLock& property;
            Value& copy;
            ~WriteBack() { property.setWrappedValue(std::move(copy)); }
        } writeBack{*this, copy};
        std::forward<Change>(change)(copy);
    }

private:
    template <typename, typename>
    friend struct nlohmann::adl_serializer;

    std::shared_ptr<UnfairLock> lock_;
    Value value_;
};

}  // namespace korbit

// JSON form: exactly the form of the bare value.
template <typename Value>
struct nlohmann::adl_serializer<korbit::PropertyLock<Value>, void> {
    template <typename Json>
    static void to_json(Json& json, const korbit::PropertyLock<Value>& property) {
        property.lock_->withLock([&] { json = property.value_; });
    }

    template <typename Json>
    static korbit::PropertyLock<Value> from_json(const Json& json) {
        return korbit::PropertyLock<Value>(json.template get<Value>());
    }
};
