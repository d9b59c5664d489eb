#pragma once

// A section's heading: the title in small upper-case letters and, when given, a subtitle under
// it that wraps onto as many lines as it needs.

#include <QWidget>

#include <optional>

namespace velmora {

class StyledLabel;

class SectionHeader : public QWidget {
    Q_OBJECT

public:
    static constexpr int spacing = 4;
    static constexpr qreal titlePixels = 11;
    static constexpr qreal titleTracking = 0.5;
    static constexpr qreal subtitlePixels = 11.5;

    explicit SectionHeader(const QString& title, const std::optional<QString>& subtitle = std::nullopt,
                           QWidget* parent = nullptr);

    StyledLabel* titleLabel() const { return title_; }
    /// Null without a subtitle.
    StyledLabel* subtitleLabel() const { return subtitle_; }

private:
    StyledLabel* title_;
    StyledLabel* subtitle_ = nullptr;
};

}  // namespace velmora
