#include "Velmora/App/ModelEngineFactory.hpp"

#include "Velmora/App/UnavailableModelEngine.hpp"
#include "Velmora/Support/Paths.hpp"

namespace velmora {

std::filesystem::path ModelEngineFactory::modelFolder() {
    // The hub client keeps a repository below "<base>/models/<owner>/<name>", with "models" as the base.
    return Paths::root() / "models" / "models" / "korbitinc" / "tremolan-coreml" /
           "openai_whisper-large-v3-v20240930_626MB";
}

std::shared_ptr<LocalModelEngine> ModelEngineFactory::make() {
    return std::make_shared<UnavailableModelEngine>(modelFolder());
}

}  // namespace velmora
