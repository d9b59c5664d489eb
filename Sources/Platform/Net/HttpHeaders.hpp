#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::net {

/// Header fields in the order they were set or received. Names compare without regard to case.
class HttpHeaders {
public:
    using Field = std::pair<std::string, std::string>;

    /// The field's value; repeated fields are joined with ", ". Absent when the field is missing;
    /// a field present with an empty value gives the empty text.
    std::optional<std::string> value(std::string_view name) const;
    bool contains(std::string_view name) const;

    /// Replaces every field of that name with one field.
    void set(std::string name, std::string value);
    /// Adds a field, keeping earlier ones of the same name.
    void add(std::string name, std::string value);
    void remove(std::string_view name);

    const std::vector<Field>& fields() const { return fields_; }
    bool empty() const { return fields_.empty(); }

private:
    std::vector<Field> fields_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace platform::net
