#include "Platform/Net/Session.hpp"

#include "Platform/Net/HttpHeadReader.hpp"
#include "Platform/Net/TransportError.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string_view>

namespace platform::net {
namespace {

constexpr long kMaxRedirects = 16;
constexpr const char* kUserAgent = "velmora-korbit/0.1";
// Every head line of one exchange together (redirect hops included); far above what a real server
// sends, and a server that keeps sending lines is refused well before memory runs short.
constexpr std::size_t kMaxHeadBytes = 256u << 10;

std::string durationText(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string byteCountText(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// libcurl's global set-up must run once before any handle is made.
void ensureCurlInitialised() {
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)initialised;
}

// Name lookups and TLS sessions are shared by every transfer of the process; connections are not
// (libcurl does not support sharing them between threads).
class SharedCaches {
public:
    SharedCaches() : share_(curl_share_init()) {
        curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedCaches::lock);
        curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedCaches::unlock);
        curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    CURLSH* handle() const { return share_; }

    static SharedCaches& instance() {
        ensureCurlInitialised();
        // Never destroyed: transfers on other threads may still use it while the process exits.
        static SharedCaches* caches = new SharedCaches();
        return *caches;
    }

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<SharedCaches*>(user)->mutexes_[static_cast<std::size_t>(data) % kLocks].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<SharedCaches*>(user)->mutexes_[static_cast<std::size_t>(data) % kLocks].unlock();
    }

    static constexpr std::size_t kLocks = 16;
    CURLSH* share_;
    std::array<std::mutex, kLocks> mutexes_;
};

bool isRedirectFollowedByCurl(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

TransportError errorFor(CURLcode code, const char* detail) {
    using Kind = TransportError::Kind;
    Kind kind = Kind::other;
    switch (code) {
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            kind = Kind::badUrl;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            kind = Kind::cannotFindHost;
            break;
        case CURLE_COULDNT_CONNECT:
            kind = Kind::cannotConnect;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            kind = Kind::timedOut;
            break;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_WEIRD_SERVER_REPLY:
            kind = Kind::connectionLost;
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
            kind = Kind::secureConnectionFailed;
            break;
        case CURLE_TOO_MANY_REDIRECTS:
            kind = Kind::tooManyRedirects;
            break;
        case CURLE_ABORTED_BY_CALLBACK:
            kind = Kind::cancelled;
            break;
        default:
            break;
    }
    std::string message = detail && *detail ? detail : curl_easy_strerror(code);
    return TransportError(kind, std::move(message), static_cast<int>(code));
}

void checkHeaderField(const std::string& name, const std::string& value) {
    auto bad = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    if (name.empty() || std::any_of(name.begin(), name.end(), [&](char c) { return bad(c) || c == ':' || c == ' '; }) ||
        std::any_of(value.begin(), value.end(), bad)) {
        throw TransportError(TransportError::Kind::invalidRequest, "invalid header field \"" + name + "\"");
    }
}

}  // namespace

class Exchange;

struct Session::Impl {
    SessionConfiguration configuration;
    RedirectHandler redirectHandler;
    mutable std::mutex mutex;
    bool invalidated = false;
    std::set<Exchange*> active;

    void enter(Exchange* exchange);
    void leave(Exchange* exchange);
};

// One HTTP exchange on its own easy and multi handle, so that it can be woken up and cancelled
// from another thread at once, and so that the idle time-out is measured to the millisecond.
class Exchange {
public:
    Exchange(Session::Impl& session, const HttpRequest& request, bool followRedirects, bool decodeContent)
        : session_(session),
          url_(request.url),
          timeout_(request.timeout),
          deadline_(request.deadline),
          headDeadline_(request.headDeadline) {
        // Everything that can fail comes first; the handles are owned as soon as they exist.
        for (const auto& [name, value] : request.headers.fields()) {
            checkHeaderField(name, value);
            // "Name;" is libcurl's way to send a field with an empty value.
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            curl_slist* next = curl_slist_append(headerList_.get(), line.c_str());
            if (!next) throw TransportError(TransportError::Kind::other, "out of memory");
            headerList_.release();
            headerList_.reset(next);
        }
        multiHandle_.reset(curl_multi_init());
        easyHandle_.reset(curl_easy_init());
        if (!easyHandle_ || !multiHandle_)
            throw TransportError(TransportError::Kind::other, "cannot create a transfer");
        easy_ = easyHandle_.get();
        multi_ = multiHandle_.get();
        errorBuffer_[0] = '\0';
        curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_.data());
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, kUserAgent);
        curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 256L * 1024L);
        curl_easy_setopt(easy_, CURLOPT_SHARE, SharedCaches::instance().handle());
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max<long long>(1, timeout_.count())));
        if (request.method == "HEAD") {
            curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        } else if (request.method != "GET") {
            curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
        if (decodeContent && !request.headers.contains("Accept-Encoding")) {
            curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
        }
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_.get());
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Exchange::onHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Exchange::onData);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &Exchange::onProgress);
        curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
        followRedirects_ = followRedirects;
        curl_multi_add_handle(multi_, easy_);
    }

    ~Exchange() { curl_multi_remove_handle(multi_, easy_); }

    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    std::function<void(const HttpResponse&)> onResponse;
    std::function<void(const char*, std::size_t)> onBody;
    /// When the request's deadlines began, when not with this exchange (redirect hops of one request).
    std::optional<std::chrono::steady_clock::time_point> countFrom;

    /// Runs the exchange to its end; throws on any failure.
    void perform(std::stop_token stop) {
        session_.enter(this);
        struct Leave {
            Session::Impl& s;
            Exchange* e;
            ~Leave() { s.leave(e); }
        } leave{session_, this};
        std::stop_callback onStop(stop, [this] { cancel(); });

        using Clock = std::chrono::steady_clock;
        using std::chrono::milliseconds;
        const auto started = countFrom.value_or(Clock::now());
        lastActivity_ = Clock::now();
        std::optional<std::string> timedOut;
        int running = 1;
        std::optional<CURLcode> result;
        while (true) {
            CURLMcode mc = curl_multi_perform(multi_, &running);
            if (mc != CURLM_OK) throw TransportError(TransportError::Kind::other, curl_multi_strerror(mc));
            if (running == 0) break;
            if (cancelled_.load()) break;
            const auto now = Clock::now();
            const auto idle = std::chrono::duration_cast<milliseconds>(now - lastActivity_);
            const auto elapsed = std::chrono::duration_cast<milliseconds>(now - started);
            // The nearest of the limits that still apply.
            milliseconds left = timeout_ - idle;
            if (left <= milliseconds(0)) {
                timedOut = "The request timed out.";
                break;
            }
            if (deadline_) {
                if (elapsed >= *deadline_) {
                    timedOut = "The request to " + url_ + " took longer than " + durationText(*deadline_) + ".";
                    break;
                }
                left = std::min(left, *deadline_ - elapsed);
            }
            if (headDeadline_ && !headDelivered_) {
                if (elapsed >= *headDeadline_) {
                    timedOut = "The reply from " + url_ + " did not come within " + durationText(*headDeadline_) + ".";
                    break;
                }
                left = std::min(left, *headDeadline_ - elapsed);
            }
            int wait = static_cast<int>(std::clamp<long long>(left.count(), 1, 1000));
            mc = curl_multi_poll(multi_, nullptr, 0, wait, nullptr);
            if (mc != CURLM_OK) throw TransportError(TransportError::Kind::other, curl_multi_strerror(mc));
        }
        if (running == 0) {
            int pending = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi_, &pending)) {
                if (msg->msg == CURLMSG_DONE) result = msg->data.result;
            }
        }
        if (callbackError_) std::rethrow_exception(callbackError_);
        if (result && *result == CURLE_OK) {
            // A reply without body bytes (HEAD, 204, ...) is delivered here.
            deliverHead();
            if (callbackError_) std::rethrow_exception(callbackError_);
            return;
        }
        if (cancelled_.load()) throw TransportError::cancelled();
        if (timedOut) throw TransportError(TransportError::Kind::timedOut, *timedOut);
        throw errorFor(result.value_or(CURLE_RECV_ERROR), errorBuffer_.data());
    }

    void cancel() {
        cancelled_.store(true);
        curl_multi_wakeup(multi_);
    }

private:
    void deliverHead() {
        if (headDelivered_ || !head_.hasStatus()) return;
        headDelivered_ = true;
        char* effective = nullptr;
        if (curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
            head_.response().url = effective;
        }
        if (!onResponse) return;
        try {
            onResponse(head_.response());
        } catch (...) {
            callbackError_ = std::current_exception();
        }
    }

    static std::size_t onHeader(char* buffer, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<Exchange*>(user);
        std::size_t length = size * count;
        self->lastActivity_ = std::chrono::steady_clock::now();
        self->headBytes_ += length;
        if (self->headBytes_ > kMaxHeadBytes) {
            self->callbackError_ = std::make_exception_ptr(TransportError(
                TransportError::Kind::responseTooLarge,
                "The head of the reply from " + self->url_ + " is larger than " + byteCountText(kMaxHeadBytes) + "."));
            return 0;
        }
        const std::string_view line(buffer, length);
        // Trailers after the head are not the head's.
        if (self->headDelivered_ && line.substr(0, 5) != "HTTP/") return length;
        if (self->head_.read(line) != HttpHeadReader::Line::end) return length;
        const int status = self->head_.response().statusCode;
        const bool interim = status >= 100 && status < 200;
        const bool followed = self->followRedirects_ && isRedirectFollowedByCurl(status) &&
                              self->head_.response().headers.contains("Location");
        if (!interim && !followed) {
            self->deliverHead();
            if (self->callbackError_) return 0;
        }
        return length;
    }

    static std::size_t onData(char* data, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<Exchange*>(user);
        std::size_t length = size * count;
        self->lastActivity_ = std::chrono::steady_clock::now();
        if (self->cancelled_.load()) return CURL_WRITEFUNC_ERROR;
        self->deliverHead();
        if (self->callbackError_) return CURL_WRITEFUNC_ERROR;
        if (!self->onBody) return length;
        try {
            self->onBody(data, length);
        } catch (...) {
            self->callbackError_ = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
        return length;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Exchange*>(user)->cancelled_.load() ? 1 : 0;
    }

    Session::Impl& session_;
    std::string url_;
    std::chrono::milliseconds timeout_;
    std::optional<std::chrono::milliseconds> deadline_;
    std::optional<std::chrono::milliseconds> headDeadline_;
    std::size_t headBytes_ = 0;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList_{nullptr, &curl_slist_free_all};
    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multiHandle_{nullptr, &curl_multi_cleanup};
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easyHandle_{nullptr, &curl_easy_cleanup};
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    std::array<char, CURL_ERROR_SIZE + 1> errorBuffer_{};
    bool followRedirects_ = false;
    std::atomic<bool> cancelled_{false};
    std::chrono::steady_clock::time_point lastActivity_;
    HttpHeadReader head_;
    bool headDelivered_ = false;
    std::exception_ptr callbackError_;
};

void Session::Impl::enter(Exchange* exchange) {
    std::lock_guard lock(mutex);
    if (invalidated) throw TransportError::cancelled();
    active.insert(exchange);
}

void Session::Impl::leave(Exchange* exchange) {
    std::lock_guard lock(mutex);
    active.erase(exchange);
}

Session::Session(SessionConfiguration configuration, RedirectHandler redirectHandler)
    : impl_(std::make_shared<Impl>()) {
    ensureCurlInitialised();
    impl_->configuration = std::move(configuration);
    impl_->redirectHandler = std::move(redirectHandler);
}

Session::~Session() = default;

std::shared_ptr<Session> Session::shared() {
    static const std::shared_ptr<Session> session = std::make_shared<Session>();
    return session;
}

Session::DataResult Session::data(const HttpRequest& request, std::stop_token stop) {
    DataResult result;
    HttpRequest current = request;
    const bool manualRedirects = static_cast<bool>(impl_->redirectHandler);
    // The deadline is the request's, however many hops the handler makes of it.
    const auto started = std::chrono::steady_clock::now();
    for (long hop = 0;; ++hop) {
        result = DataResult{};
        Exchange exchange(*impl_, current, !manualRedirects, true);
        exchange.countFrom = started;
        exchange.onResponse = [&](const HttpResponse& response) { result.response = response; };
        exchange.onBody = [&](const char* data, std::size_t size) {
            // A reply that does not end is refused before it can take the memory.
            if (size > current.maxBodyBytes - std::min(current.maxBodyBytes, result.body.size())) {
                throw TransportError(
                    TransportError::Kind::responseTooLarge,
                    "The reply from " + current.url + " is larger than " + byteCountText(current.maxBodyBytes) + ".");
            }
            result.body.append(data, size);
        };
        exchange.perform(stop);
        // Without automatic redirects the reply's URL is exactly the URL asked for.
        if (manualRedirects) result.response.url = current.url;
        int status = result.response.statusCode;
        if (!manualRedirects || status < 300 || status > 399) break;
        if (hop >= kMaxRedirects)
            throw TransportError(TransportError::Kind::tooManyRedirects, "too many HTTP redirects");
        std::optional<HttpRequest> next = impl_->redirectHandler(result.response, request);
        if (!next) break;
        current = std::move(*next);
        // The limits stay the request's, whatever request the handler makes of a hop.
        current.deadline = request.deadline;
        current.headDeadline = request.headDeadline;
        current.maxBodyBytes = request.maxBodyBytes;
    }
    return result;
}

void Session::stream(const HttpRequest& request, const StreamHandler& handler, std::stop_token stop) {
    Exchange exchange(*impl_, request, true, false);
    exchange.onResponse = handler.didReceiveResponse;
    exchange.onBody = handler.didReceiveData;
    exchange.perform(stop);
}

void Session::invalidateAndCancel() {
    std::lock_guard lock(impl_->mutex);
    impl_->invalidated = true;
    for (Exchange* exchange : impl_->active) exchange->cancel();
}

bool Session::isInvalidated() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->invalidated;
}

const SessionConfiguration& Session::configuration() const {
    return impl_->configuration;
}

}  // namespace platform::net
