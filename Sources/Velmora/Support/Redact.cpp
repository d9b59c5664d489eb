#include "Velmora/Support/Redact.hpp"

#include "Platform/Text/Regex.hpp"

#include <array>

namespace velmora {
namespace {

struct Rule {
    platform::text::Regex pattern;
    std::string replacement;
};

const std::array<Rule, 5>& rules() {
    static const std::string m(Redact::mask);
    static const std::array<Rule, 5> list{{
        {platform::text::Regex("(?i)\\b(bearer)\\s+[^\\s\"',;«]+"), "$1 " + m},
        {platform::text::Regex("(?i)\\b(x-license)(\\s*[:=]\\s*)[^\\s\"',;«]+"), "$1$2" + m},
        {platform::text::Regex("\\b((?:GROQ|OPENROUTER)_API_KEY)(\\s*=\\s*)[^\\s\"',;«]+"), "$1$2" + m},
        {platform::text::Regex("\\bsk-or-[A-Za-z0-9_-]+"), m},
        {platform::text::Regex("\\bgsk_[A-Za-z0-9]+"), m},
    }};
    return list;
}

}  // namespace

std::string Redact::apply(std::string_view text) {
    std::string result(text);
    for (const Rule& rule : rules()) result = rule.pattern.replaceAll(result, rule.replacement);
    return result;
}

}  // namespace velmora
