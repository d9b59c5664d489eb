#include "FakeHub/FakeHub.hpp"

#include "Platform/Crypto/Sha256.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

std::string decode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::string current;
    std::istringstream in(path);
    while (std::getline(in, current, '/')) {
        if (!current.empty()) parts.push_back(current);
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (!out.empty()) out += '/';
        out += parts[i];
    }
    return out;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Counted {
    int remaining = 0;  // -1: always
    bool take() {
        if (remaining == 0) return false;
        if (remaining > 0) --remaining;
        return true;
    }
};

struct BodyFault {
    std::uint64_t afterBytes = 0;
    std::chrono::milliseconds delay{0};
    Counted count;
};

struct StatusFault {
    std::string method;
    std::string targetPart;
    int status = 0;
    Counted count;
};

struct StallFault {
    std::string targetPart;
    std::chrono::milliseconds delay{0};
    Counted count;
};

// Where a file is served from and what it announces.
struct ServedFile {
    fs::path path;
    std::string relative;
    std::uint64_t size = 0;
    bool large = false;
    std::string etag;    // bare tag
    std::string sha256;  // large files only
};

}  // namespace

struct FakeHub::State {
    fs::path root;
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> serving_ended{false};
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;

    std::string commit = kCommit;
    std::uint64_t largeThreshold = 1 << 20;
    std::optional<std::string> token;
    std::map<std::string, BodyFault> breaks;
    std::map<std::string, BodyFault> stalls;
    int midBodyStallsBegun = 0;
    std::vector<StatusFault> statuses;
    std::vector<StallFault> headStalls;
    std::vector<std::string> omitted;
    std::map<std::string, std::string> overrides;
    std::map<std::string, bool> corrupt;
    std::map<std::string, std::string> renames;
    bool ignoreRange = false;
    std::vector<HubRequest> log;
    std::function<void(const HubRequest&)> observer;
    // Digests of large files by path, with the size and time they were computed for.
    std::map<std::string, std::tuple<std::uint64_t, std::int64_t, std::string>> digests;
    std::map<std::string, ServedFile> content;  // by SHA-256, for the content host

    // Waits, unless the hub stops first.
    void pause(std::chrono::milliseconds delay) {
        std::unique_lock lock(mutex);
        stopped.wait_for(lock, delay, [&] { return stopping; });
    }

    std::optional<BodyFault> takeBodyFault(std::map<std::string, BodyFault>& faults, const std::string& file) {
        std::lock_guard lock(mutex);
        for (const std::string& key : {file, std::string()}) {
            auto it = faults.find(key);
            if (it != faults.end() && it->second.count.take()) return it->second;
        }
        return std::nullopt;
    }

    std::string digestOf(const fs::path& path, std::uint64_t size) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        std::int64_t stamp = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        {
            std::lock_guard lock(mutex);
            auto it = digests.find(path.string());
            if (it != digests.end() && std::get<0>(it->second) == size && std::get<1>(it->second) == stamp) {
                return std::get<2>(it->second);
            }
        }
        std::string digest = sha256Of(path);
        std::lock_guard lock(mutex);
        digests[path.string()] = {size, stamp, digest};
        return digest;
    }

    bool authorised(const httplib::Request& req, httplib::Response& res) {
        std::optional<std::string> required;
        {
            std::lock_guard lock(mutex);
            required = token;
        }
        if (!required) return true;
        if (!req.has_header("Authorization")) {
            res.status = 401;
            return false;
        }
        if (req.get_header_value("Authorization") != "Bearer " + *required) {
            res.status = 403;
            return false;
        }
        return true;
    }

    bool validRevision(const std::string& revision) {
        std::lock_guard lock(mutex);
        return revision == "main" || revision == commit || revision == "refs/pr/1";
    }

    void applyHeaderFaults(httplib::Response& res) {
        std::lock_guard lock(mutex);
        for (const auto& name : omitted) {
            auto range = res.headers.equal_range(name);
            res.headers.erase(range.first, range.second);
        }
        for (const auto& [name, value] : overrides) {
            auto range = res.headers.equal_range(name);
            res.headers.erase(range.first, range.second);
            res.headers.emplace(name, value);
        }
    }

    void handle(const httplib::Request& req, httplib::Response& res) {
        std::string path = req.target.substr(0, req.target.find('?'));
        std::vector<std::string> raw = split(path);
        if (!raw.empty() && raw[0] == "api") return listing(req, res, raw);
        if (raw.size() == 2 && raw[0] == "cdn") return contentHost(req, res, raw[1]);
        resolve(req, res, raw);
    }

    void listing(const httplib::Request& req, httplib::Response& res, const std::vector<std::string>& raw) {
        // /api/<kind>/<owner>/<name>/revision/<revision>
        if (raw.size() != 6 || raw[4] != "revision") {
            res.status = 404;
            return;
        }
        if (!authorised(req, res)) return;
        fs::path repo = root / raw[1] / decode(raw[2]) / decode(raw[3]);
        if (!fs::is_directory(repo) || !validRevision(decode(raw[5]))) {
            res.status = 404;
            res.set_header("X-Error-Code", "RepoNotFound");
            return;
        }
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(repo)) {
            if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), repo).generic_string());
        }
        std::sort(names.begin(), names.end());
        nlohmann::json siblings = nlohmann::json::array();
        for (const auto& name : names) siblings.push_back({{"rfilename", name}});
        std::string commitNow;
        {
            std::lock_guard lock(mutex);
            commitNow = commit;
        }
        nlohmann::json reply = {
            {"id", decode(raw[2]) + "/" + decode(raw[3])}, {"sha", commitNow}, {"siblings", siblings}};
        res.status = 200;
        res.set_content(reply.dump(), "application/json");
    }

    void resolve(const httplib::Request& req, httplib::Response& res, const std::vector<std::string>& raw) {
        // [<kind>/]<owner>/<name>/resolve/<revision>/<file...>
        std::size_t offset = (!raw.empty() && (raw[0] == "datasets" || raw[0] == "spaces")) ? 1 : 0;
        if (raw.size() < offset + 5 || raw[offset + 2] != "resolve") {
            res.status = 404;
            return;
        }
        std::string kind = offset ? raw[0] : "models";
        std::string repoId = decode(raw[offset]) + "/" + decode(raw[offset + 1]);
        std::string revision = decode(raw[offset + 3]);
        std::string file = decode(join(raw, offset + 4, raw.size()));
        {
            std::lock_guard lock(mutex);
            auto renamed = renames.find(repoId);
            if (renamed != renames.end()) {
                std::string location = (offset ? "/" + kind : std::string()) + "/" + renamed->second + "/resolve/" +
                                       raw[offset + 3] + "/" + join(raw, offset + 4, raw.size());
                if (auto q = req.target.find('?'); q != std::string::npos) location += req.target.substr(q);
                res.status = 307;
                res.set_header("Location", location);
                return;
            }
        }
        if (!authorised(req, res)) return;
        fs::path repo = root / kind / repoId;
        fs::path target = repo / file;
        if (!fs::is_directory(repo) || !validRevision(revision)) {
            res.status = 404;
            res.set_header("X-Error-Code", "RevisionNotFound");
            return;
        }
        if (!fs::is_regular_file(target)) {
            res.status = 404;
            res.set_header("X-Error-Code", "EntryNotFound");
            return;
        }
        ServedFile served = describe(target, file);
        std::string commitNow;
        {
            std::lock_guard lock(mutex);
            commitNow = commit;
        }
        res.set_header("X-Repo-Commit", commitNow);
        if (served.large) {
            res.status = 302;
            res.set_header("Location", "http://localhost:" + std::to_string(port) + "/cdn/" + served.sha256);
            res.set_header("X-Linked-Etag", "\"" + served.sha256 + "\"");
            res.set_header("X-Linked-Size", std::to_string(served.size));
            res.set_header("ETag", "\"" + smallFileEtag(served.sha256) + "\"");
            applyHeaderFaults(res);
            return;
        }
        res.set_header("ETag", "\"" + served.etag + "\"");
        serveBody(req, res, served);
        applyHeaderFaults(res);
    }

    void contentHost(const httplib::Request& req, httplib::Response& res, const std::string& digest) {
        std::optional<ServedFile> served;
        {
            std::lock_guard lock(mutex);
            auto it = content.find(digest);
            if (it != content.end()) served = it->second;
        }
        if (!served) {
            res.status = 404;
            return;
        }
        serveBody(req, res, *served);
    }

    ServedFile describe(const fs::path& path, const std::string& relative) {
        ServedFile served;
        served.path = path;
        served.relative = relative;
        served.size = fs::file_size(path);
        std::uint64_t threshold;
        {
            std::lock_guard lock(mutex);
            threshold = largeThreshold;
        }
        served.large = served.size >= threshold;
        if (served.large) {
            served.sha256 = digestOf(path, served.size);
            served.etag = served.sha256;
            std::lock_guard lock(mutex);
            content[served.sha256] = served;
        } else {
            std::ifstream in(path, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            served.etag = smallFileEtag(bytes.str());
        }
        return served;
    }

    void serveBody(const httplib::Request& req, httplib::Response& res, const ServedFile& served) {
        std::uint64_t start = 0;
        bool ranged = false;
        bool ignore;
        {
            std::lock_guard lock(mutex);
            ignore = ignoreRange;
        }
        if (req.has_header("Range") && !ignore) {
            std::string range = req.get_header_value("Range");
            if (range.rfind("bytes=", 0) == 0 && range.find('-') != std::string::npos) {
                start = std::stoull(range.substr(6, range.find('-') - 6));
                ranged = true;
            }
        }
        if (ranged && start >= served.size) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(served.size));
            return;
        }
        res.status = ranged ? 206 : 200;
        if (ranged) {
            res.set_header("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(served.size - 1) +
                                                "/" + std::to_string(served.size));
        }
        res.set_header("Accept-Ranges", "bytes");
        if (req.method == "HEAD") {
            // No body is sent; the provider only announces the length.
            res.set_content_provider(served.size, "application/octet-stream",
                                     [](std::size_t, std::size_t, httplib::DataSink&) { return true; });
            return;
        }
        std::optional<BodyFault> breakFault = takeBodyFault(breaks, served.relative);
        std::optional<BodyFault> stallFault = takeBodyFault(stalls, served.relative);
        bool flip;
        {
            std::lock_guard lock(mutex);
            flip = corrupt.count(served.relative) && corrupt[served.relative];
        }
        int fd = ::open(served.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            res.status = 500;
            return;
        }
        auto sent = std::make_shared<std::uint64_t>(0);
        res.set_content_provider(
            served.size - start, "application/octet-stream",
            [this, fd, start, breakFault, stallFault, flip, sent](std::size_t offset, std::size_t length,
                                                                  httplib::DataSink& sink) {
                std::vector<char> buffer(std::min<std::size_t>(length, 256 * 1024));
                std::size_t want = buffer.size();
                if (breakFault) {
                    if (*sent >= breakFault->afterBytes) return false;
                    want = std::min<std::uint64_t>(want, breakFault->afterBytes - *sent);
                }
                if (stallFault && *sent < stallFault->afterBytes) {
                    want = std::min<std::uint64_t>(want, stallFault->afterBytes - *sent);
                } else if (stallFault && *sent == stallFault->afterBytes) {
                    {
                        std::lock_guard lock(mutex);
                        ++midBodyStallsBegun;
                    }
                    pause(stallFault->delay);
                }
                ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(start + offset));
                if (n <= 0) return false;
                if (flip && start + offset == 0) buffer[0] = static_cast<char>(buffer[0] ^ 0x5a);
                if (!sink.write(buffer.data(), static_cast<std::size_t>(n))) return false;
                *sent += static_cast<std::uint64_t>(n);
                {
                    std::lock_guard lock(mutex);
                    if (stopping) return false;
                }
                return true;
            },
            [fd](bool) { ::close(fd); });
    }
};

FakeHub::FakeHub(fs::path root, int port) : state_(std::make_shared<State>()) {
    State& s = *state_;
    s.root = std::move(root);
    // One request per connection, so that stopping never waits for an idle keep-alive connection.
    s.server.set_keep_alive_max_count(1);
    // Without the library's SO_REUSEPORT: a second server on a port in use must fail to bind, not
    // share the port with the first.
    s.server.set_socket_options([](socket_t sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    s.server.set_read_timeout(std::chrono::seconds(2));
    s.server.set_write_timeout(std::chrono::seconds(5));
    s.server.set_pre_routing_handler([state = state_.get()](const httplib::Request& req, httplib::Response&) {
        HubRequest entry{req.method,   req.get_header_value("Host"),
                         req.target,   req.has_header("Range") ? req.get_header_value("Range") : "-",
                         std::nullopt, std::nullopt};
        if (req.has_header("Authorization")) entry.authorization = req.get_header_value("Authorization");
        if (req.has_header("Accept-Encoding")) entry.acceptEncoding = req.get_header_value("Accept-Encoding");
        std::function<void(const HubRequest&)> observer;
        {
            std::lock_guard lock(state->mutex);
            state->log.push_back(entry);
            observer = state->observer;
        }
        if (observer) observer(entry);
        // The server would otherwise cut bodies to the requested range on its own; the hub's
        // handlers answer ranges themselves (and can be told to ignore them).
        const_cast<httplib::Request&>(req).ranges.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.server.Get(".*", [state = state_.get()](const httplib::Request& req, httplib::Response& res) {
        std::optional<std::chrono::milliseconds> stall;
        std::optional<int> status;
        {
            std::lock_guard lock(state->mutex);
            for (auto& fault : state->headStalls) {
                if (contains(req.target, fault.targetPart) && fault.count.take()) {
                    stall = fault.delay;
                    break;
                }
            }
            for (auto& fault : state->statuses) {
                if ((fault.method == "*" || fault.method == req.method) && contains(req.target, fault.targetPart) &&
                    fault.count.take()) {
                    status = fault.status;
                    break;
                }
            }
        }
        if (stall) state->pause(*stall);
        if (status) {
            res.status = *status;
            if (*status == 416) res.set_header("Content-Range", "bytes */0");
            return;
        }
        state->handle(req, res);
    });
    if (port == 0) {
        s.port = s.server.bind_to_any_port("127.0.0.1");
    } else if (s.server.bind_to_port("127.0.0.1", port)) {
        s.port = port;
    }
    if (s.port <= 0) {
        throw std::runtime_error(port == 0 ? "the fake hub cannot listen on 127.0.0.1"
                                           : "the fake hub cannot listen on 127.0.0.1:" + std::to_string(port) +
                                                 " (is the port in use?)");
    }
    s.thread = std::thread([state = state_.get()] {
        state->server.listen_after_bind();
        state->serving_ended = true;
    });
    // stop() does nothing until the server runs: a hub that does not come up is an error, not a hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!s.server.is_running()) {
        if (s.serving_ended || std::chrono::steady_clock::now() > deadline) {
            while (!s.serving_ended) {
                s.server.stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            s.thread.join();
            throw std::runtime_error("the fake hub on 127.0.0.1:" + std::to_string(s.port) +
                                     " did not start serving within 20 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

FakeHub::~FakeHub() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->stopped.notify_all();
    state_->server.stop();
    if (state_->thread.joinable()) state_->thread.join();
}

int FakeHub::port() const {
    return state_->port;
}
std::string FakeHub::endpoint() const {
    return "http://127.0.0.1:" + std::to_string(state_->port);
}

void FakeHub::setCommit(std::string commit) {
    std::lock_guard lock(state_->mutex);
    state_->commit = std::move(commit);
}

void FakeHub::setLargeFileThreshold(std::uint64_t bytes) {
    std::lock_guard lock(state_->mutex);
    state_->largeThreshold = bytes;
}

void FakeHub::requireToken(std::optional<std::string> token) {
    std::lock_guard lock(state_->mutex);
    state_->token = std::move(token);
}

void FakeHub::breakBody(const std::string& file, std::uint64_t afterBytes, int times) {
    std::lock_guard lock(state_->mutex);
    state_->breaks[file] = BodyFault{afterBytes, {}, Counted{times}};
}

void FakeHub::ignoreRange(bool on) {
    std::lock_guard lock(state_->mutex);
    state_->ignoreRange = on;
}

void FakeHub::answerStatus(const std::string& method, const std::string& targetPart, int status, int times) {
    std::lock_guard lock(state_->mutex);
    state_->statuses.push_back(StatusFault{method, targetPart, status, Counted{times}});
}

void FakeHub::omitHeader(const std::string& name) {
    std::lock_guard lock(state_->mutex);
    state_->omitted.push_back(name);
}

void FakeHub::overrideHeader(const std::string& name, const std::string& value) {
    std::lock_guard lock(state_->mutex);
    state_->overrides[name] = value;
}

void FakeHub::stallBeforeHead(const std::string& targetPart, std::chrono::milliseconds delay, int times) {
    std::lock_guard lock(state_->mutex);
    state_->headStalls.push_back(StallFault{targetPart, delay, Counted{times}});
}

void FakeHub::stallMidBody(const std::string& file, std::uint64_t afterBytes, std::chrono::milliseconds delay,
                           int times) {
    std::lock_guard lock(state_->mutex);
    state_->stalls[file] = BodyFault{afterBytes, delay, Counted{times}};
}

int FakeHub::midBodyStallsBegun() const {
    std::lock_guard lock(state_->mutex);
    return state_->midBodyStallsBegun;
}

void FakeHub::corruptContent(const std::string& file, bool on) {
    std::lock_guard lock(state_->mutex);
    state_->corrupt[file] = on;
}

void FakeHub::renameRepository(const std::string& from, const std::string& to) {
    std::lock_guard lock(state_->mutex);
    state_->renames[from] = to;
}

std::vector<HubRequest> FakeHub::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->log;
}

std::vector<HubRequest> FakeHub::requests(const std::string& targetPart) const {
    std::vector<HubRequest> matching;
    for (auto& entry : requests()) {
        if (contains(entry.target, targetPart)) matching.push_back(entry);
    }
    return matching;
}

void FakeHub::clearRequests() {
    std::lock_guard lock(state_->mutex);
    state_->log.clear();
}

void FakeHub::onRequest(std::function<void(const HubRequest&)> observer) {
    std::lock_guard lock(state_->mutex);
    state_->observer = std::move(observer);
}

std::string FakeHub::sha256Of(const fs::path& file) {
    platform::crypto::Sha256 hasher;
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0) hasher.update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    return platform::crypto::Sha256::toHex(hasher.finish());
}

std::string FakeHub::smallFileEtag(const std::string& contents) {
    return platform::crypto::Sha256::hex("blob " + std::to_string(contents.size()) + '\0' + contents).substr(0, 40);
}

}  // namespace velmora::test
