#pragma once

// A loopback hub that serves the trained test model as the application's fixed model folder, with
// the speech tokenizer its widths call for, and names itself in HF_ENDPOINT while it lives, so
// that the on-device engine (and a program started meanwhile) download and load it from there.

#include "FakeHub/FakeHub.hpp"
#include "Support/FakeModelRepository.hpp"
#include "Support/TestEnvironment.hpp"

#include <optional>
#include <string>

namespace velmora::test {

class TestModelHub {
public:
    /// The engine's model folder name in the repository.
    static constexpr const char* kModelFolder = "openai_whisper-large-v3-v20240930_626MB";

    TestModelHub() {
        FakeModelRepository repository(served_.path());
        repository.addTestModel(kModelFolder);
        repository.addTokenizer("base");
        hub_.emplace(served_.path());
        endpoint_.emplace("HF_ENDPOINT", hub_->endpoint().c_str());
    }

    FakeHub& hub() { return *hub_; }
    /// The served model folder.
    std::filesystem::path modelFolder() const {
        return served_.path() / "models" / FakeModelRepository::kRepo / kModelFolder;
    }

private:
    TempDir served_{"velmora-hub"};
    std::optional<FakeHub> hub_;
    std::optional<ScopedEnv> endpoint_;
};

}  // namespace velmora::test
