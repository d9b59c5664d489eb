#pragma once

// The on-device engine of a build that has no speech engine wired in yet: the model's folder is
// where the real engine keeps it, but downloading and loading fail with a message that says so.

#include "Velmora/STT/LocalModelEngine.hpp"

namespace velmora {

class UnavailableModelEngine : public LocalModelEngine {
public:
    static constexpr std::string_view downloadMessage =
        "Скачать модель пока нельзя: в этой сборке нет движка распознавания на устройстве";
    static constexpr std::string_view loadMessage =
        "Загрузить модель пока нельзя: в этой сборке нет движка распознавания на устройстве";

    explicit UnavailableModelEngine(std::filesystem::path modelFolder);

    std::filesystem::path modelFolder() const override { return folder_; }
    /// Throws std::runtime_error with downloadMessage.
    void download(std::function<void(double)> onProgress) override;
    /// Throws std::runtime_error with loadMessage.
    void load() override;
    void unload() override {}
    bool isLoaded() const override { return false; }
    /// Throws std::runtime_error with loadMessage.
    std::string transcribe(const std::vector<float>& samples, const std::string& language) override;

private:
    std::filesystem::path folder_;
};

}  // namespace velmora
