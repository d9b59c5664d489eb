#include "Platform/ML/Model.hpp"

#include "Platform/ML/Network.hpp"
#include "Platform/ML/Safetensors.hpp"
#include "Platform/Sys/FileIO.hpp"

#include <algorithm>
#include <system_error>

namespace platform::ml {

std::shared_ptr<MLModel> MLModel::load(const std::filesystem::path& url, const MLModelConfiguration& configuration) {
    std::error_code ec;
    if (!std::filesystem::exists(url, ec)) throw MLModelError("No model at " + url.string());
    const auto descriptionFile = bundleDescriptionFile(url);
    const std::string where = descriptionFile.string();
    std::string text;
    try {
        text = platform::sys::readFile(descriptionFile);
    } catch (const std::system_error&) {
        throw MLModelError("Model bundle " + url.string() + " has no description file " +
                           descriptionFile.filename().string());
    }
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) throw MLModelError(where + ": the description is not valid JSON");

    std::shared_ptr<MLModel> model(new MLModel());
    model->url_ = url;
    model->configuration_ = configuration;
    model->manifest_ = BundleManifest::parse(json, where);
    const auto weightsPath = descriptionFile.parent_path() / model->manifest_.weights;
    if (!std::filesystem::is_regular_file(weightsPath, ec))
        throw MLModelError("Model bundle " + url.string() + " is missing its weights file " + model->manifest_.weights);
    try {
        SafetensorsFile weights(weightsPath);
        model->idle_.push_back(makeNetwork(model->manifest_, weights, weightsPath.filename().string()));
        model->loaded_ = model->idle_.back().get();
    } catch (const SafetensorsError& e) {
        throw MLModelError(e.what());
    }
    model->description_ = MLModelDescription(model->manifest_.inputs, model->manifest_.outputs);
    return model;
}

MLModel::~MLModel() = default;

class MLModel::Lease {
public:
    Lease(const MLModel& model, const MLFeatureProvider& input) : model_(model) {
        if (takeIdle(input, false)) return;
        // Every instance is busy. The clone reads only what the loaded instance never changes
        // after loading; a network that cannot be cloned waits for its one instance.
        network_ = model.loaded_->clone();
        if (!network_) takeIdle(input, true);
    }
    ~Lease() {
        {
            std::lock_guard lock(model_.mutex_);
            model_.idle_.push_back(std::move(network_));
        }
        model_.returned_.notify_one();
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    Network& network() { return *network_; }

private:
    bool takeIdle(const MLFeatureProvider& input, bool wait) {
        std::unique_lock lock(model_.mutex_);
        auto& idle = model_.idle_;
        if (wait) model_.returned_.wait(lock, [&] { return !idle.empty(); });
        if (idle.empty()) return false;
        // The instance whose cache was made from these inputs, else the one given back last.
        auto chosen =
            std::find_if(idle.rbegin(), idle.rend(), [&](const auto& network) { return network->keepsStateOf(input); });
        const auto it = chosen == idle.rend() ? std::prev(idle.end()) : std::prev(chosen.base());
        network_ = std::move(*it);
        idle.erase(it);
        return true;
    }

    const MLModel& model_;
    std::unique_ptr<Network> network_;
};

std::map<std::string, MLMultiArray> MLModel::run(const MLFeatureProvider& input) const {
    for (const auto& feature : description_.inputs()) {
        auto value = input.featureValue(feature.name);
        if (!value) throw MLModelError("Missing required input \"" + feature.name + "\"");
        auto array = value->multiArrayValue();
        if (!array || array->isNull()) throw MLModelError("Input \"" + feature.name + "\" is not a multi-array");
        const auto& constraint = *feature.multiArrayConstraint;
        if (array->shape() != constraint.shape)
            throw MLModelError("Input \"" + feature.name + "\" has shape " + formatShape(array->shape()) +
                               "; the model expects " + formatShape(constraint.shape));
        const auto alternatives = loaded_->alternativeTypes(feature.name);
        if (array->dataType() != constraint.dataType && !alternatives.count(array->dataType()))
            throw MLModelError("Input \"" + feature.name + "\" has element type " + dataTypeName(array->dataType()) +
                               "; the model takes " + dataTypeName(constraint.dataType));
        // Strides must keep every element inside the storage.
        std::int64_t last = 0;
        for (std::size_t i = 0; i < array->shape().size(); ++i) {
            if (array->strides()[i] < 0) throw MLModelError("Input \"" + feature.name + "\" has a negative stride");
            last += (array->shape()[i] - 1) * array->strides()[i];
        }
        if (array->count() > 0 && last >= array->storageElements())
            throw MLModelError("Input \"" + feature.name + "\" has strides that reach past its storage");
    }
    Lease lease(*this, input);
    auto outputs = lease.network().predict(input);
    for (const auto& feature : description_.outputs())
        if (!feature.isOptional && !outputs.count(feature.name))
            throw MLModelError("The model did not produce its output \"" + feature.name + "\"");
    return outputs;
}

std::shared_ptr<MLFeatureProvider> MLModel::prediction(const MLFeatureProvider& input,
                                                       const MLPredictionOptions&) const {
    return std::make_shared<MLDictionaryFeatureProvider>(run(input));
}

std::shared_ptr<MLFeatureProvider> MLModel::prediction(const MLFeatureProvider& input, MLState&,
                                                       const MLPredictionOptions& options) const {
    return prediction(input, options);
}

std::map<std::string, MLMultiArray> MLModel::predict(const std::map<std::string, MLMultiArray>& inputs) const {
    return run(MLDictionaryFeatureProvider(inputs));
}

}  // namespace platform::ml
