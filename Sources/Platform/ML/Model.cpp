#include "Platform/ML/Model.hpp"

#include "Platform/ML/ComputePool.hpp"
#include "Platform/ML/Network.hpp"
#include "Platform/ML/Safetensors.hpp"
#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace platform::ml {
namespace {

// " (a named pipe, not a file)" for what stands where a bundle's file belongs; nothing for a file or
// for nothing there.
std::string notAFile(mode_t mode) {
    if (mode == 0 || S_ISREG(mode)) return {};
    return " (" + platform::sys::notAFile(mode) + ")";
}

}  // namespace

std::shared_ptr<MLModel> MLModel::load(const std::filesystem::path& url, const MLModelConfiguration& configuration) {
    std::error_code ec;
    if (!std::filesystem::exists(url, ec)) throw MLModelError("No model at " + url.string());
    const auto descriptionFile = bundleDescriptionFile(url);
    const std::string where = descriptionFile.string();
    // Opened without waiting, and only a file: a named pipe in its place would hold the load for good.
    const auto description =
        platform::sys::openWithoutWaiting(descriptionFile, O_RDONLY, platform::sys::NodeKinds::regularFilesOnly);
    std::string text;
    const bool read = description.fd >= 0 && platform::sys::readAll(description.fd, text);
    if (description.fd >= 0) ::close(description.fd);
    if (!read) {
        throw MLModelError("Model bundle " + url.string() + " has no description file " +
                           descriptionFile.filename().string() + notAFile(description.mode));
    }
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) throw MLModelError(where + ": the description is not valid JSON");

    std::shared_ptr<MLModel> model(new MLModel());
    model->url_ = url;
    model->configuration_ = configuration;
    model->manifest_ = BundleManifest::parse(json, where);
    const auto weightsPath = descriptionFile.parent_path() / model->manifest_.weights;
    struct stat weightsInfo {};
    if (::stat(weightsPath.c_str(), &weightsInfo) != 0 || !S_ISREG(weightsInfo.st_mode))
        throw MLModelError("Model bundle " + url.string() + " is missing its weights file " + model->manifest_.weights +
                           notAFile(weightsInfo.st_mode));
    model->instanceLimit_ = static_cast<std::size_t>(
        configuration.maxInstances > 0 ? configuration.maxInstances : ComputePool::shared().threadCount());
    try {
        SafetensorsFile weights(weightsPath);
        auto network = makeNetwork(model->manifest_, weights, weightsPath.filename().string());
        model->loaded_ = network.get();
        platform::sys::MutexLock lock(model->mutex_);
        model->idle_.push_back(std::move(network));
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
        platform::sys::MutexLock lock(model.mutex_);
        for (;;) {
            if (takeIdle(input)) return;
            if (model.cloneable_ && model.instances_ < model.instanceLimit_) {
                // Every instance is busy and there is room for one more. The clone reads only what
                // the loaded instance never changes after loading, so it is made outside the lock.
                ++model.instances_;
                lock.unlock();
                std::unique_ptr<Network> clone;
                try {
                    clone = model.loaded_->clone();
                } catch (...) {
                    lock.lock();
                    --model.instances_;
                    throw;
                }
                if (clone) {
                    network_ = std::move(clone);
                    return;
                }
                // A network that cannot be cloned waits for its one instance.
                lock.lock();
                --model.instances_;
                model.cloneable_ = false;
            }
            lock.wait(model.returned_);
        }
    }
    ~Lease() {
        {
            platform::sys::MutexLock lock(model_.mutex_);
            model_.idle_.push_back(std::move(network_));
        }
        model_.returned_.notify_one();
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    Network& network() { return *network_; }

private:
    bool takeIdle(const MLFeatureProvider& input) VELMORA_REQUIRES(model_.mutex_) {
        auto& idle = model_.idle_;
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

void MLModel::releaseIdleInstances() const {
    std::vector<std::unique_ptr<Network>> released;
    {
        platform::sys::MutexLock lock(mutex_);
        for (auto it = idle_.begin(); it != idle_.end();) {
            if (it->get() == loaded_) {
                ++it;
                continue;
            }
            released.push_back(std::move(*it));
            it = idle_.erase(it);
            --instances_;
        }
    }
    // Their memory is given back outside the lock. A call waiting for an instance may now clone.
    if (!released.empty()) returned_.notify_all();
}

std::size_t MLModel::instanceCount() const {
    platform::sys::MutexLock lock(mutex_);
    return instances_;
}

std::map<std::string, MLMultiArray> MLModel::run(const MLFeatureProvider& input) const {
    for (const auto& feature : description_.inputs()) {
        // The provider's own array where it lends one; else a copy of the handle.
        std::optional<MLMultiArray> copy;
        const MLMultiArray* array = input.multiArrayView(feature.name);
        if (!array) {
            auto value = input.featureValue(feature.name);
            if (!value) throw MLModelError("Missing required input \"" + feature.name + "\"");
            copy = value->multiArrayValue();
            if (copy) array = &*copy;
        }
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
