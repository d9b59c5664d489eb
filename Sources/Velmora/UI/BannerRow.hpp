#pragma once

// The banner under the main window's header: what the on-device model is doing, or the current
// warning, on a faint band. It slides in from the top while fading in, and leaves the same way.

#include "Velmora/AppController.hpp"
#include "Velmora/UI/AnimatedValue.hpp"

#include <QWidget>

#include <optional>
#include <string>

class QGraphicsOpacityEffect;

namespace velmora {

class LinkButton;
class Spinner;
class StyledLabel;
class SymbolView;

class BannerRow : public QWidget {
    Q_OBJECT

public:
    static constexpr int horizontalPadding = 32;
    static constexpr int verticalPadding = 8;
    static constexpr int spacing = 8;
    /// The preparation text turns into the long one after this many seconds.
    static constexpr std::int64_t shortPreparationSeconds = 15;

    /// What the banner says: its text, the symbol before it, and whether that symbol is in the
    /// warning colour (orange) instead of the secondary level.
    struct Banner {
        QString text;
        std::string symbol;
        bool warningTint = false;
        bool operator==(const Banner&) const = default;
    };

    /// The banner for the controller's values, in this order: the model loading ("Готовлю
    /// модель…", the long text from 16 s on), the model downloading ("Качаю модель — N %", the
    /// percentage cut toward zero), the warning; otherwise none.
    static std::optional<Banner> bannerFor(const AppController::ModelState& state, double progress,
                                           std::int64_t elapsed, const std::optional<std::string>& warning);

    explicit BannerRow(QWidget* parent = nullptr);

    /// Follows the controller's values.
    void follow(const AppController& controller);

    /// What the banner shows, or nothing (also while it is leaving).
    const std::optional<Banner>& banner() const { return banner_; }
    StyledLabel* textLabel() const { return text_; }
    /// Shown while the model downloads or loads, in place of the symbol.
    Spinner* spinner() const { return spinner_; }
    SymbolView* symbol() const { return symbol_; }
    /// "Открыть настройки": shown while a warning is set and the model is not loading.
    LinkButton* settingsButton() const { return settings_; }
    /// 0 when gone, 1 when fully in.
    qreal presence() const { return presence_.value(); }
    const AnimatedValue& presenceValue() const { return presence_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

Q_SIGNALS:
    void settingsRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();
    /// The band's height at this width when fully in.
    int naturalHeight(int width) const;

    QWidget* band_;
    Spinner* spinner_;
    SymbolView* symbol_;
    StyledLabel* text_;
    LinkButton* settings_;
    QGraphicsOpacityEffect* fade_;
    std::optional<Banner> banner_;
    AnimatedValue presence_{0.0};
};

}  // namespace velmora
