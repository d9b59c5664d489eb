#include "Velmora/App/UnavailableModelEngine.hpp"

#include <stdexcept>
#include <string>

namespace velmora {

UnavailableModelEngine::UnavailableModelEngine(std::filesystem::path modelFolder) : folder_(std::move(modelFolder)) {}

void UnavailableModelEngine::download(std::function<void(double)>) {
    throw std::runtime_error(std::string(downloadMessage));
}

void UnavailableModelEngine::load() {
    throw std::runtime_error(std::string(loadMessage));
}

std::string UnavailableModelEngine::transcribe(const std::vector<float>&, const std::string&) {
    throw std::runtime_error(std::string(loadMessage));
}

}  // namespace velmora
