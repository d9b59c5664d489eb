#pragma once

// The failures of a speech-to-text engine; what() is the Russian text shown to the user.

#include <stdexcept>
#include <string>

namespace velmora {

class STTError : public std::runtime_error {
public:
    enum class Kind { notConfigured, emptyResult };

    /// The engine lacks something to run: "Не настроено: " + what.
    static STTError notConfigured(const std::string& what);
    /// The engine ran and heard nothing: "Пустой результат распознавания".
    static STTError emptyResult();

    Kind kind() const { return kind_; }
    /// What is missing, for notConfigured; empty otherwise.
    const std::string& missing() const { return missing_; }

private:
    STTError(Kind kind, std::string missing, const std::string& description);

    Kind kind_;
    std::string missing_;
};

}  // namespace velmora
