#include "Velmora/Post/GlossaryFile.hpp"

#include "Velmora/Support/IsoDate.hpp"

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace velmora {

namespace {

[[noreturn]] void fail(std::size_t index, const std::string& what) {
    throw GlossaryFileError("term " + std::to_string(index) + ": " + what);
}

Term decodeTerm(const json& object, std::size_t index, std::chrono::sys_seconds now) {
    if (!object.is_object()) fail(index, "not an object");
    Term term;
    const auto canonical = object.find("canonical");
    if (canonical == object.end() || !canonical->is_string()) fail(index, "\"canonical\" is not a text");
    term.canonical = canonical->get<std::string>();

    if (const auto id = object.find("id"); id != object.end()) {
        const auto parsed = id->is_string() ? korbit::UUID::fromString(id->get<std::string>()) : std::nullopt;
        if (!parsed) fail(index, "\"id\" is not a UUID");
        term.id = *parsed;
    }
    if (const auto variants = object.find("variants"); variants != object.end()) {
        if (!variants->is_array()) fail(index, "\"variants\" is not an array");
        for (const auto& variant : *variants) {
            if (!variant.is_string()) fail(index, "a variant is not a text");
            term.variants.push_back(variant.get<std::string>());
        }
    }
    if (const auto hint = object.find("hint"); hint != object.end()) {
        if (!hint->is_boolean()) fail(index, "\"hint\" is not true or false");
        term.hint = hint->get<bool>();
    }
    if (const auto hits = object.find("hits"); hits != object.end()) {
        if (!hits->is_number_integer()) fail(index, "\"hits\" is not a whole number");
        term.hits = hits->get<std::int64_t>();
    }
    term.addedAt = now;
    if (const auto added = object.find("addedAt"); added != object.end()) {
        const auto date = added->is_string() ? IsoDate::parse(added->get<std::string>(), true) : std::nullopt;
        if (!date) fail(index, "\"addedAt\" is not an ISO 8601 date");
        term.addedAt = std::chrono::floor<std::chrono::seconds>(*date);
    }
    return term;
}

}  // namespace

std::string GlossaryFile::encode(const std::vector<Term>& terms) {
    json array = json::array();
    for (const Term& term : terms) {
        // json objects keep their keys sorted.
        array.push_back({{"addedAt", IsoDate::format(term.addedAt)},
                         {"canonical", term.canonical},
                         {"hint", term.hint},
                         {"hits", term.hits},
                         {"id", term.id.uuidString()},
                         {"variants", term.variants}});
    }
    return array.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::vector<Term> GlossaryFile::decode(std::string_view text, std::chrono::sys_seconds now) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& error) {
        throw GlossaryFileError(std::string("not JSON: ") + error.what());
    }
    if (!document.is_array()) throw GlossaryFileError("not an array of terms");
    std::vector<Term> terms;
    terms.reserve(document.size());
    for (std::size_t i = 0; i < document.size(); ++i) terms.push_back(decodeTerm(document[i], i, now));
    return terms;
}

}  // namespace velmora
