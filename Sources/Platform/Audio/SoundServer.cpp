#include "Platform/Audio/SoundServer.hpp"

#include "Platform/Audio/PulseConnection.hpp"

namespace platform::audio {
namespace {

constexpr const char* listingName = "Velmora sound devices";

}  // namespace

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
