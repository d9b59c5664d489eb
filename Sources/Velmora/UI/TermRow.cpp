#include "Velmora/UI/TermRow.hpp"

#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace velmora {

namespace {

// The hit count on a capsule of the faintest fill.
class HitBadge : public StyledLabel {
public:
    HitBadge(std::int64_t hits, QWidget* parent)
        : StyledLabel(QString::number(hits), Design::font(Design::TextStyle::caption), Design::Level::secondary,
                      parent) {
        setContentsMargins(7, 2, 7, 2);
        setAlignment(Qt::AlignCenter);
        setToolTip(QStringLiteral("Столько раз замена сработала"));
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            const QRectF capsule(rect());
            QPainterPath path;
            path.addRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
            painter.fillPath(path, Design::foreground(parentWidget()->palette(), Design::Level::quaternary));
        }
        StyledLabel::paintEvent(event);
    }
};

QString joinedVariants(const std::vector<std::string>& variants) {
    QStringList pieces;
    for (const auto& variant : variants) pieces << QString::fromStdString(variant);
    return pieces.join(QStringLiteral(" · "));
}

}  // namespace

TermRow::TermRow(const Term& term, QWidget* parent) : QAbstractButton(parent), id_(term.id) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    layout->setSpacing(spacing);

    auto* text = new QVBoxLayout;
    text->setSpacing(textSpacing);
    spelling_ = new StyledLabel(QString::fromStdString(term.canonical),
                                Design::font(Design::TextStyle::body, QFont::Medium), Design::Level::primary, this);
    spelling_->setWordWrap(true);
    text->addWidget(spelling_);
    if (!term.variants.empty()) {
        variants_ = new StyledLabel(joinedVariants(term.variants), Design::font(Design::TextStyle::callout),
                                    Design::Level::secondary, this);
        variants_->setWordWrap(true);
        text->addWidget(variants_);
    }
    // The text takes the room a flexible space would, so that long variants wrap.
    layout->addLayout(text, 1);

    if (term.hits >= 1) {
        badge_ = new HitBadge(term.hits, this);
        layout->addWidget(badge_, 0, Qt::AlignTop);
    }
    // The chevron sits level with the spelling's first line.
    auto* chevron = new SymbolView("chevron.right", 10, Design::Level::tertiary, this);
    auto* chevronColumn = new QVBoxLayout;
    chevronColumn->setContentsMargins(0, (QFontMetrics(spelling_->font()).height() - 10) / 2, 0, 0);
    chevronColumn->addWidget(chevron);
    chevronColumn->addStretch(1);
    layout->addLayout(chevronColumn);
    setAccessibleName(QString::fromStdString(term.canonical));
}

void TermRow::paintEvent(QPaintEvent*) {
    // No chrome: only a focus mark for keyboard users.
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
}

}  // namespace velmora
