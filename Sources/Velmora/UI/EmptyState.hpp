#pragma once

// The placeholder of an empty screen: a large faint symbol, a title, a short explanation and an
// action, centred in the space given.

#include <QWidget>

#include <string_view>

namespace velmora {

class StyledLabel;
class SymbolView;

class EmptyState : public QWidget {
    Q_OBJECT

public:
    static constexpr int symbolPixels = 34;
    static constexpr int spacing = 14;
    static constexpr int textSpacing = 4;
    static constexpr int detailMaximumWidth = 340;

    /// `action` (may be null) is placed under the text as it is.
    EmptyState(std::string_view symbol, const QString& title, const QString& detail, QWidget* action,
               QWidget* parent = nullptr);

    SymbolView* symbolView() const { return symbol_; }
    StyledLabel* titleLabel() const { return title_; }
    StyledLabel* detailLabel() const { return detail_; }
    QWidget* action() const { return action_; }

private:
    SymbolView* symbol_;
    StyledLabel* title_;
    StyledLabel* detail_;
    QWidget* action_;
};

}  // namespace velmora
