#include "Platform/Audio/SoundServer.hpp"

#include "Platform/Audio/PulseConnection.hpp"

#include <cstdlib>

namespace platform::audio {
namespace {

constexpr const char* listingName = "Velmora sound devices";

}  // namespace

std::string soundServerAddress(const std::string& server) {
    if (!server.empty()) return server;
    const char* chosen = std::getenv("PULSE_SERVER");
    if (chosen && *chosen) return chosen;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string("unix:") + runtime + "/pulse/native";
    return "the default address";
}

SoundServerInfo soundServerInfo(const std::string& server) {
    detail::PulseConnection connection(server, listingName);
    return connection.serverInfo();
}

std::vector<AudioSourceInfo> listAudioSources(const std::string& server) {
    detail::PulseConnection connection(server, listingName);
    return connection.sources();
}

AudioSourceInfo findAudioSource(const SourceSelection& selection, const std::string& server) {
    detail::PulseConnection connection(server, listingName);
    return connection.source(selection);
}

}  // namespace platform::audio
