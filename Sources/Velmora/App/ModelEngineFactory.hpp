#pragma once

// The one place where the program makes its on-device engine.

#include "Velmora/STT/LocalModelEngine.hpp"

#include <filesystem>
#include <memory>

namespace velmora {

class ModelEngineFactory {
public:
    /// The folder of the fixed model below the data folder's "models".
    static std::filesystem::path modelFolder();

    /// The engine the program runs with. Until the speech engine is wired in, a stand-in whose
    /// downloads and loadings fail with a clear message.
    static std::shared_ptr<LocalModelEngine> make();
};

}  // namespace velmora
