#pragma once

#include "KorbitCore/External/Hub/HubApi.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korbit {

/// The front of the hub client that the rest of the system holds: it builds a HubApi by the
/// construction rules and forwards listing and snapshot to it.
class HubApiWrapper {
public:
    using Repo = korbit::Repo;
    using RepoType = korbit::RepoType;

    /// A copy of the process's front, made on first use without base, token or endpoint.
    static HubApiWrapper shared();

    explicit HubApiWrapper(std::optional<std::filesystem::path> downloadBase = std::nullopt,
                           std::optional<std::string> hfToken = std::nullopt,
                           std::optional<std::string> endpoint = std::nullopt, bool useBackgroundSession = false,
                           HubApiTiming timing = {});

    std::vector<std::string> getFilenames(const Repo& repo, const std::string& revision,
                                          const std::vector<std::string>& globs, std::stop_token stop = {}) const {
        return impl.getFilenames(repo, revision, globs, stop);
    }
    std::filesystem::path snapshot(const Repo& repo, const std::string& revision, const std::vector<std::string>& globs,
                                   const HubApi::ProgressHandler& progressHandler = {},
                                   std::stop_token stop = {}) const {
        return impl.snapshot(repo, revision, globs, progressHandler, stop);
    }
    /// downloadBase/<kind>/<owner>/<name>; touches no file.
    std::filesystem::path localRepoLocation(const Repo& repo) const { return impl.localRepoLocation(repo); }

    HubApi impl;
};

}  // namespace korbit
