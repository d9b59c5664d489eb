#include "KorbitCore/External/Hub/HubApiWrapper.hpp"

namespace korbit {

HubApiWrapper HubApiWrapper::shared() {
    static const HubApiWrapper front;
    return front;
}

HubApiWrapper::HubApiWrapper(std::optional<std::filesystem::path> downloadBase, std::optional<std::string> hfToken,
                             std::optional<std::string> endpoint, bool useBackgroundSession, HubApiTiming timing)
    : impl(std::move(downloadBase), std::move(hfToken), std::move(endpoint), useBackgroundSession, timing) {}

}  // namespace korbit
