#pragma once

// The pieces a pre-tokenizer cuts a section into, kept end to end in one buffer so that cutting a
// section allocates nothing per piece; one list is cleared and refilled section after section.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korbit {

class TextPieces {
public:
    void clear() {
        bytes_.clear();
        ends_.clear();
    }
    void push_back(std::string_view piece) {
        bytes_.append(piece);
        endPiece();
    }
    /// The buffer the next piece is appended to, in place; endPiece() closes it.
    std::string& buffer() { return bytes_; }
    void endPiece() { ends_.push_back(bytes_.size()); }

    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view operator[](std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_).substr(begin, ends_[i] - begin);
    }
    std::vector<std::string> strings() const {
        std::vector<std::string> out;
        out.reserve(size());
        for (std::size_t i = 0; i < size(); ++i) out.emplace_back((*this)[i]);
        return out;
    }

private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

}  // namespace korbit
