#include "Platform/Audio/PulseConnection.hpp"

#include <memory>
#include <optional>

namespace platform::audio::detail {
namespace {

using Kind = SoundServerError::Kind;

AudioSourceInfo sourceFrom(const pa_source_info& info) {
    AudioSourceInfo source;
    source.index = info.index;
    source.name = info.name ? info.name : "";
    source.description = info.description ? info.description : "";
    source.channelCount = info.sample_spec.channels;
    source.sampleRate = info.sample_spec.rate;
    if (info.monitor_of_sink != PA_INVALID_INDEX) source.monitorOfSink = info.monitor_of_sink;
    return source;
}

/// What an introspection call collects, filled on the event thread.
template <typename T>
struct Collected {
    PulseConnection* connection;
    std::vector<T> items;
    bool done = false;
};

void collectSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* collected = static_cast<Collected<AudioSourceInfo>*>(userdata);
    if (eol != 0 || info == nullptr) {
        collected->done = true;
    } else {
        collected->items.push_back(sourceFrom(*info));
    }
    collected->connection->signal();
}

}  // namespace

PulseConnection::PulseConnection(const std::string& server, const std::string& applicationName) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) throw SoundServerError(Kind::unavailable, "Cannot set up a connection to the sound server");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), applicationName.c_str());
    if (!context_) {
        pa_threaded_mainloop_free(loop_);
        throw SoundServerError(Kind::unavailable, "Cannot set up a connection to the sound server");
    }
    pa_context_set_state_callback(
        context_, [](pa_context*, void* self) { static_cast<PulseConnection*>(self)->signal(); }, this);
    const std::string where = soundServerAddress(server);
    if (pa_context_connect(context_, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        const std::string reason = lastError();
        pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
        throw SoundServerError(Kind::unavailable, "Cannot connect to the sound server at " + where + ": " + reason);
    }
    std::optional<SoundServerError> failure;
    {
        Lock lock(*this);
        const bool ready = waitUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
        if (!ready) {
            const std::string reason = contextFailed() ? lastError() : std::string("no answer within the time-out");
            failure.emplace(Kind::unavailable, "Cannot connect to the sound server at " + where + ": " + reason);
        }
    }
    if (failure) {
        close();
        throw *failure;
    }
}

PulseConnection::~PulseConnection() {
    close();
}

void PulseConnection::close() {
    if (!loop_) return;
    {
        Lock lock(*this);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_stop(loop_);
    pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    context_ = nullptr;
}

std::string PulseConnection::lastError() const {
    return pa_strerror(pa_context_errno(context_));
}

bool PulseConnection::contextFailed() const {
    const pa_context_state_t state = pa_context_get_state(context_);
    return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, double seconds) {
    struct Deadline {
        PulseConnection* connection;
        bool passed = false;
    } deadline{this};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(seconds * 1e6));
    pa_time_event* event = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            auto* d = static_cast<Deadline*>(userdata);
            d->passed = true;
            d->connection->signal();
        },
        &deadline);
    while (!done() && !contextFailed() && !deadline.passed) pa_threaded_mainloop_wait(loop_);
    api->time_free(event);
    return done();
}

bool PulseConnection::finish(pa_operation* operation, double seconds) {
    if (!operation) return false;
    const bool finished =
        waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, seconds);
    if (!finished) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return finished;
}

SoundServerInfo PulseConnection::serverInfo() {
    struct Answer {
        PulseConnection* connection;
        std::optional<SoundServerInfo> info;
    } answer{this, std::nullopt};
    Lock lock(*this);
    pa_operation* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* a = static_cast<Answer*>(userdata);
            if (info) {
                a->info = SoundServerInfo{info->server_name ? info->server_name : "",
                                          info->server_version ? info->server_version : "",
                                          info->default_sink_name ? info->default_sink_name : "",
                                          info->default_source_name ? info->default_source_name : ""};
            }
            a->connection->signal();
        },
        &answer);
    if (!finish(operation) || !answer.info)
        throw SoundServerError(Kind::unavailable, "The sound server did not describe itself: " + lastError());
    return *answer.info;
}

std::vector<AudioSourceInfo> PulseConnection::sources() {
    Collected<AudioSourceInfo> collected{this, {}, false};
    Lock lock(*this);
    if (!finish(pa_context_get_source_info_list(context_, collectSource, &collected)) || !collected.done)
        throw SoundServerError(Kind::unavailable, "The sound server did not list its sources: " + lastError());
    return collected.items;
}

AudioSourceInfo PulseConnection::sourceByName(const std::string& name) {
    Collected<AudioSourceInfo> collected{this, {}, false};
    Lock lock(*this);
    finish(pa_context_get_source_info_by_name(context_, name.c_str(), collectSource, &collected));
    if (collected.items.empty()) throw SoundServerError(Kind::noSuchSource, "No sound source named " + name);
    return collected.items.front();
}

std::string PulseConnection::defaultSinkMonitorName() {
    const std::string sink = serverInfo().defaultSinkName;
    if (sink.empty()) throw SoundServerError(Kind::noDefaultSink, "The sound server has no default sink");
    struct Answer {
        PulseConnection* connection;
        bool found = false;
        std::string monitor;
    } answer{this, false, {}};
    Lock lock(*this);
    finish(pa_context_get_sink_info_by_name(
        context_, sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
            auto* a = static_cast<Answer*>(userdata);
            if (eol == 0 && info) {
                a->found = true;
                if (info->monitor_source != PA_INVALID_INDEX && info->monitor_source_name)
                    a->monitor = info->monitor_source_name;
            }
            a->connection->signal();
        },
        &answer));
    if (!answer.found) throw SoundServerError(Kind::noDefaultSink, "The default sink " + sink + " is gone");
    if (answer.monitor.empty()) throw SoundServerError(Kind::noMonitor, "The default sink " + sink + " has no monitor");
    return answer.monitor;
}

AudioSourceInfo PulseConnection::source(const SourceSelection& selection) {
    switch (selection.kind) {
        case SourceSelection::Kind::byName:
            return sourceByName(selection.name);
        case SourceSelection::Kind::byIndex: {
            Collected<AudioSourceInfo> collected{this, {}, false};
            Lock lock(*this);
            finish(pa_context_get_source_info_by_index(context_, selection.index, collectSource, &collected));
            if (collected.items.empty())
                throw SoundServerError(Kind::noSuchSource,
                                       "No sound source with index " + std::to_string(selection.index));
            return collected.items.front();
        }
        case SourceSelection::Kind::defaultSinkMonitor:
            try {
                return sourceByName(defaultSinkMonitorName());
            } catch (const SoundServerError& e) {
                if (e.kind() != Kind::noSuchSource) throw;
                throw SoundServerError(Kind::noMonitor, "The default sink's monitor is gone");
            }
        case SourceSelection::Kind::defaultSource:
            break;
    }
    const std::string name = serverInfo().defaultSourceName;
    if (name.empty()) throw SoundServerError(Kind::noSuchSource, "The sound server has no default source");
    return sourceByName(name);
}

}  // namespace platform::audio::detail
