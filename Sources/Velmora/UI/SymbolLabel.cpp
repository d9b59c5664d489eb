#include "Velmora/UI/SymbolLabel.hpp"

#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace velmora {

namespace {

int symbolSize(const QFont& font) {
    return QFontMetrics(font).ascent();
}

QLabel* colouredLabel(const QString& text, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette own = label->palette();
    own.setColor(QPalette::WindowText, colour);
    label->setPalette(own);
    return label;
}

}  // namespace

SymbolLabel::SymbolLabel(std::string_view symbol, const QString& text, const QFont& font, Design::Level level,
                         QWidget* parent)
    : SymbolLabel(font, new StyledLabel(text, font, level), new SymbolView(symbol, symbolSize(font), level), parent) {}

SymbolLabel::SymbolLabel(std::string_view symbol, const QString& text, const QFont& font, const QColor& colour,
                         QWidget* parent)
    : SymbolLabel(font, colouredLabel(text, font, colour), new SymbolView(symbol, symbolSize(font), colour), parent) {}

SymbolLabel::SymbolLabel(const QFont& font, QLabel* label, SymbolView* view, QWidget* parent)
    : QWidget(parent), symbol_(view), label_(label) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(gap);
    // The symbol sits level with the first line, however many lines follow.
    auto* symbolColumn = new QVBoxLayout;
    symbolColumn->setContentsMargins(0, (QFontMetrics(font).height() - symbolSize(font)) / 2, 0, 0);
    symbolColumn->addWidget(symbol_);
    symbolColumn->addStretch(1);
    layout->addLayout(symbolColumn);
    layout->addWidget(label_, 1);
    symbol_->setParent(this);
    label_->setParent(this);
}

QString SymbolLabel::text() const {
    return label_->text();
}

void SymbolLabel::setText(const QString& text) {
    label_->setText(text);
}

void SymbolLabel::setWordWrap(bool wrap) {
    label_->setWordWrap(wrap);
}

}  // namespace velmora
