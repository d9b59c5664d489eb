#include "Tremolan/Core/BatchRunner.hpp"

#include "KorbitCore/ConcurrencyUtilities.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tremolan {

std::size_t BatchRunner::defaultThreads() {
    return static_cast<std::size_t>(std::max(1L, korbit::ConcurrencyUtilities::activeProcessorCount()));
}

void BatchRunner::run(std::size_t count, const std::function<void(std::size_t)>& body) {
    run(count, body, defaultThreads());
}

void BatchRunner::run(std::size_t count, const std::function<void(std::size_t)>& body, std::size_t maxThreads) {
    std::atomic<std::size_t> next{0};
    std::exception_ptr firstError;
    std::mutex errorMutex;
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                body(i);
            } catch (...) {
                std::lock_guard guard(errorMutex);
                if (!firstError) firstError = std::current_exception();
            }
        }
    };
    const std::size_t threads = std::min(count, std::max<std::size_t>(maxThreads, 1));
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
    work();
    helpers.clear();
    if (firstError) std::rethrow_exception(firstError);
}

}  // namespace tremolan
