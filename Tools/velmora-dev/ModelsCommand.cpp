// models: the speech-model variants a repository recommends for this machine and offers.

#include "Command.hpp"
#include "ModelRepositoryOptions.hpp"

#include "Tremolan/Core/Facade/Tremolan.hpp"

#include <cstdio>
#include <string>

namespace {

const std::string kUsage = std::string(
                               "usage: velmora-dev models [--repo R] [--endpoint URL]\n"
                               "Prints the variant the repository recommends for this machine, then every\n"
                               "variant it supports here, one a line. Without a support file in the repository\n"
                               "the library's built-in table answers, and a warning on standard error says why.\n") +
                           velmora::dev::ModelRepositoryOptions::kUsage;

int runModels(const velmora::dev::Arguments& args) {
    velmora::dev::ArgumentParser parser("models", kUsage);
    velmora::dev::ModelRepositoryOptions::declare(parser, false);
    const auto options = velmora::dev::ModelRepositoryOptions::from(parser.parse(args));
    using tremolan::Tremolan;
    const auto fetched =
        Tremolan::fetchModelSupport(options.repo, options.base, std::nullopt,
                                    std::string(tremolan::Constants::defaultRemoteConfigName), options.endpoint);
    // The library only logs it; a user of the tool must see that the answer is not the repository's.
    if (fetched.fallbackReason) {
        std::fprintf(stderr, "warning: no model support file from %s at %s (%s); the built-in table answers\n",
                     options.repo.c_str(), options.endpoint.c_str(), fetched.fallbackReason->c_str());
    }
    const auto support = fetched.config.modelSupport(Tremolan::deviceName());
    std::printf("recommended: %s\n", support.defaultModel.c_str());
    std::printf("available:\n");
    for (const auto& name : Tremolan::availableModels(fetched.config)) std::printf("  %s\n", name.c_str());
    return 0;
}

const velmora::dev::CommandRegistration registration{
    "models", "models [--repo R]: the speech-model variants recommended and available here", runModels};

}  // namespace
