#include "KorbitCore/External/Hub/Extensions/BomPreservingJson.hpp"

namespace korbit {

void throwJsonNestingTooDeep() {
    throw nlohmann::json::parse_error::create(
        101, 0, "syntax error: nesting is deeper than " + std::to_string(kMaxJsonNesting) + " levels", nullptr);
}

nlohmann::json bomPreservingJsonObject(std::string_view bytes) {
    nlohmann::json::parser_callback_t limitDepth = [](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
        if ((event == nlohmann::json::parse_event_t::object_start ||
             event == nlohmann::json::parse_event_t::array_start) &&
            static_cast<std::size_t>(depth) >= kMaxJsonNesting) {
            throwJsonNestingTooDeep();
        }
        return true;
    };
    return nlohmann::json::parse(bytes.begin(), bytes.end(), limitDepth);
}

}  // namespace korbit
