#include "KorbitCore/External/Hub/RedirectSessionActor.hpp"

#include "KorbitCore/External/Hub/RedirectDelegate.hpp"

namespace korbit {

std::shared_ptr<platform::net::Session> RedirectSessionActor::get() {
    std::lock_guard lock(mutex_);
    if (!urlSession_) {
        auto delegate = std::make_shared<RedirectDelegate>();
        urlSession_ = std::make_shared<platform::net::Session>(
            platform::net::SessionConfiguration::defaultConfiguration(),
            [delegate](const platform::net::HttpResponse& redirect, const platform::net::HttpRequest& original) {
                return delegate->willPerformHTTPRedirection(redirect, original);
            });
    }
    return urlSession_;
}

}  // namespace korbit
