#pragma once

// A mutex and its scoped lock that clang's thread-safety analysis understands (-Wthread-safety, on
// in the clang build): a member marked VELMORA_GUARDED_BY(m) may only be touched while m is held,
// and a function marked VELMORA_REQUIRES(m) only called so. The standard library's own mutexes
// carry no such marks. Other compilers see plain std::mutex and std::unique_lock.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#if defined(__clang__)
#define VELMORA_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VELMORA_THREAD_ATTRIBUTE(x)
#endif

#define VELMORA_CAPABILITY(name) VELMORA_THREAD_ATTRIBUTE(capability(name))
#define VELMORA_SCOPED_CAPABILITY VELMORA_THREAD_ATTRIBUTE(scoped_lockable)
#define VELMORA_GUARDED_BY(m) VELMORA_THREAD_ATTRIBUTE(guarded_by(m))
#define VELMORA_PT_GUARDED_BY(m) VELMORA_THREAD_ATTRIBUTE(pt_guarded_by(m))
#define VELMORA_REQUIRES(...) VELMORA_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define VELMORA_EXCLUDES(...) VELMORA_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define VELMORA_ACQUIRE(...) VELMORA_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define VELMORA_RELEASE(...) VELMORA_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define VELMORA_TRY_ACQUIRE(...) VELMORA_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define VELMORA_RETURN_CAPABILITY(m) VELMORA_THREAD_ATTRIBUTE(lock_returned(m))
#define VELMORA_ASSERT_CAPABILITY(x) VELMORA_THREAD_ATTRIBUTE(assert_capability(x))
#define VELMORA_NO_THREAD_SAFETY_ANALYSIS VELMORA_THREAD_ATTRIBUTE(no_thread_safety_analysis)

// Thread roles check the calling thread in debug builds and under the sanitizers.
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_THREAD_ROLE_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELMORA_THREAD_ROLE_CHECKS 1
#endif
#endif
#ifndef VELMORA_THREAD_ROLE_CHECKS
#define VELMORA_THREAD_ROLE_CHECKS 0
#endif

namespace platform::sys {

class VELMORA_CAPABILITY("mutex") Mutex {
public:
    void lock() VELMORA_ACQUIRE() { mutex_.lock(); }
    void unlock() VELMORA_RELEASE() { mutex_.unlock(); }
    bool try_lock() VELMORA_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

private:
    friend class MutexLock;
    std::mutex mutex_;
};

/// Holds a Mutex for its scope; may let it go and take it again, and waits on condition variables.
class VELMORA_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) VELMORA_ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    /// Takes the mutex only when it is free; owns() tells.
    MutexLock(Mutex& mutex, std::try_to_lock_t) VELMORA_TRY_ACQUIRE(true, mutex)
        : lock_(mutex.mutex_, std::try_to_lock) {}
    ~MutexLock() VELMORA_RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    bool owns() const { return lock_.owns_lock(); }
    void unlock() VELMORA_RELEASE() { lock_.unlock(); }
    void lock() VELMORA_ACQUIRE() { lock_.lock(); }

    /// Lets the mutex go until notified (or spuriously woken), then holds it again. Callers loop on
    /// their condition, which the analysis then sees read under the lock.
    void wait(std::condition_variable& condition) { condition.wait(lock_); }
    template <typename Clock, typename Duration>
    std::cv_status waitUntil(std::condition_variable& condition,
                             const std::chrono::time_point<Clock, Duration>& deadline) {
        return condition.wait_until(lock_, deadline);
    }

private:
    std::unique_lock<std::mutex> lock_;
};

/// The part of one thread, for state that no mutex guards because only that thread touches it (an
/// object living on the main thread, whose workers post their outcomes back). The state is
/// VELMORA_GUARDED_BY the role; the code that runs on the thread says so with onThread(), and code
/// on other threads that touches the state is then reported by the analysis. A role belongs to
/// the thread that makes it; in debug and sanitizer builds onThread() checks the calling thread
/// too, and a call from another ends the process naming the owner. Release builds check nothing.
class VELMORA_CAPABILITY("thread role") ThreadRole {
public:
    /// Whether onThread() checks the calling thread in this build.
    static constexpr bool checked = VELMORA_THREAD_ROLE_CHECKS != 0;

    /// The role of the calling thread; `owner` names the object in the message of a wrong call.
    explicit ThreadRole(const char* owner = "an object") noexcept
        : owner_(owner), thread_(std::this_thread::get_id()) {}

    void onThread() const VELMORA_ASSERT_CAPABILITY(this) {
#if VELMORA_THREAD_ROLE_CHECKS
        if (std::this_thread::get_id() != thread_) usedFromAnotherThread();
#endif
    }

private:
    [[noreturn]] void usedFromAnotherThread() const noexcept {
        std::fprintf(stderr, "%s belongs to the thread that made it and was used from another\n", owner_);
        std::fflush(stderr);
        std::abort();
    }

    const char* owner_;
    [[maybe_unused]] std::thread::id thread_;
};

}  // namespace platform::sys
