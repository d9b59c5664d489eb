#include "Velmora/UI/BannerRow.hpp"

#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/LinkButton.hpp"
#include "Velmora/UI/Motion.hpp"
#include "Velmora/UI/Spinner.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>

#include <cmath>

namespace velmora {

namespace {

using Kind = AppController::ModelState::Kind;

// The small indicator of the platform is 16 across; the banner draws it at 0.7 of that.
constexpr int spinnerSide = 16;
constexpr qreal spinnerScale = 0.7;

}  // namespace

std::optional<BannerRow::Banner> BannerRow::bannerFor(const AppController::ModelState& state, double progress,
                                                      std::int64_t elapsed, const std::optional<std::string>& warning) {
    if (state.kind() == Kind::loading) {
        return Banner{elapsed <= shortPreparationSeconds
                          ? QStringLiteral("Готовлю модель…")
                          : QStringLiteral("Готовлю модель под этот компьютер — первый раз это до двух минут"),
                      "gearshape.2", false};
    }
    if (state.kind() == Kind::downloading) {
        const auto percent = static_cast<long long>(std::trunc(progress * 100));
        return Banner{QStringLiteral("Качаю модель — ") + QString::number(percent) + QStringLiteral(" %"),
                      "arrow.down.circle", false};
    }
    if (warning) return Banner{QString::fromStdString(*warning), "exclamationmark.triangle.fill", true};
    return std::nullopt;
}

BannerRow::BannerRow(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    // The band inside keeps its natural height and is moved up while the row is shorter, so the
    // banner seems to come down from the top edge.
    band_ = new QWidget(this);
    auto* row = new QHBoxLayout(band_);
    row->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    row->setSpacing(spacing);
    spinner_ = new Spinner(spinnerSide, spinnerScale, band_);
    row->addWidget(spinner_, 0, Qt::AlignVCenter);
    symbol_ = new SymbolView("exclamationmark.triangle.fill", 13, Design::Level::secondary, band_);
    row->addWidget(symbol_, 0, Qt::AlignVCenter);
    text_ = new StyledLabel(QString(), Design::font(Design::TextStyle::callout), Design::Level::secondary, band_);
    text_->setWordWrap(true);
    row->addWidget(text_, 1, Qt::AlignVCenter);
    settings_ = new LinkButton(QStringLiteral("Открыть настройки"), Design::font(Design::TextStyle::callout), band_);
    row->addWidget(settings_, 0, Qt::AlignVCenter);
    connect(settings_, &LinkButton::clicked, this, &BannerRow::settingsRequested);

    fade_ = new QGraphicsOpacityEffect(this);
    fade_->setEnabled(false);
    band_->setGraphicsEffect(fade_);
    connect(&presence_, &AnimatedValue::valueChanged, this, [this](qreal value) {
        fade_->setOpacity(value);
        fade_->setEnabled(value < 1);
        updateGeometry();
        place();
        if (value <= 0 && !banner_) hide();
    });
    hide();
}

void BannerRow::follow(const AppController& controller) {
    const Kind kind = controller.modelState().kind();
    const std::optional<Banner> next =
        bannerFor(controller.modelState(), controller.modelProgress(), controller.modelElapsed(), controller.warning());
    const bool busy = kind == Kind::downloading || kind == Kind::loading;
    spinner_->setVisible(busy);
    symbol_->setVisible(!busy);
    settings_->setVisible(controller.warning().has_value() && kind != Kind::loading);
    if (next) {
        text_->setText(next->text);
        symbol_->setSymbol(next->symbol);
        if (next->warningTint)
            symbol_->setColour(Design::orange());
        else
            symbol_->setColour(Design::foreground(palette(), Design::Level::secondary));
    }
    const bool arriving = next.has_value() && !banner_.has_value();
    banner_ = next;
    if (arriving) show();
    updateGeometry();
    place();
    presence_.animateTo(banner_ ? 1.0 : 0.0, MotionCurve::standard());
    if (!banner_ && presence() <= 0) hide();
}

int BannerRow::naturalHeight(int width) const {
    QLayout* layout = band_->layout();
    return layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
}

int BannerRow::heightForWidth(int width) const {
    return static_cast<int>(std::lround(naturalHeight(width) * presence()));
}

QSize BannerRow::sizeHint() const {
    const int width = this->width() > 0 ? this->width() : band_->sizeHint().width();
    return {band_->sizeHint().width(), heightForWidth(width)};
}

QSize BannerRow::minimumSizeHint() const {
    return {0, sizeHint().height()};
}

void BannerRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void BannerRow::place() {
    const int natural = naturalHeight(width());
    band_->setGeometry(0, height() - natural, width(), natural);
    update();
}

void BannerRow::paintEvent(QPaintEvent*) {
    // The quaternary level at half strength, across the whole row.
    QColor band = Design::foreground(palette(), Design::Level::quaternary);
    band.setAlphaF(band.alphaF() * 0.5f * static_cast<float>(presence()));
    QPainter(this).fillRect(rect(), band);
}

}  // namespace velmora
