#pragma once

// Masks secrets in texts bound for the logs.

#include <string>
#include <string_view>

namespace velmora {

class Redact {
public:
    /// The mask that replaces every secret.
    static constexpr std::string_view mask = "«ключ скрыт»";

    /// The text with API keys, bearer tokens and access keys replaced by the mask; the words that
    /// announce them ("Bearer", "X-License:", "GROQ_API_KEY=") stay so that a reader knows what was hidden.
    static std::string apply(std::string_view text);
};

}  // namespace velmora
