#include "Velmora/UI/TitleField.hpp"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>
#include <memory>

namespace velmora {

TitleField::TitleField(const QFont& font, QWidget* parent) : QTextEdit(parent) {
    setFont(font);
    document()->setDefaultFont(font);
    document()->setDocumentMargin(0);
    setAcceptRichText(false);
    setTabChangesFocus(true);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // On the colour of what lies behind it.
    viewport()->setAutoFillBackground(false);
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    connect(this, &QTextEdit::textChanged, this, [this] {
        updateGeometry();
        if (!setting_) Q_EMIT textEdited(text());
    });
}

void TitleField::setText(const QString& text) {
    setting_ = true;
    setPlainText(text);
    setting_ = false;
    QTextCursor start = textCursor();
    start.movePosition(QTextCursor::Start);
    setTextCursor(start);
}

int TitleField::heightForWidth(int width) const {
    // Laid out on a copy, so that asking does not move the shown text.
    const std::unique_ptr<QTextDocument> copy(document()->clone());
    if (copy->isEmpty()) copy->setPlainText(placeholderText().isEmpty() ? QStringLiteral(" ") : placeholderText());
    copy->setTextWidth(std::max(1, width));
    return topInset_ + static_cast<int>(std::ceil(copy->size().height()));
}

QSize TitleField::sizeHint() const {
    const int width = std::max(minimumSizeHint().width(), this->width());
    return {width, heightForWidth(width)};
}

QSize TitleField::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 8, fontMetrics().height()};
}

int TitleField::firstBaseline() const {
    const QTextBlock first = document()->firstBlock();
    const QTextLayout* layout = first.layout();
    if (layout == nullptr || layout->lineCount() == 0) return topInset_ + fontMetrics().ascent();
    const QRectF block = document()->documentLayout()->blockBoundingRect(first);
    return topInset_ + static_cast<int>(std::lround(block.top() + layout->lineAt(0).y() + layout->lineAt(0).ascent()));
}

void TitleField::setTopInset(int inset) {
    if (inset == topInset_) return;
    topInset_ = inset;
    setViewportMargins(0, inset, 0, 0);
    updateGeometry();
}

void TitleField::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        Q_EMIT committed(text());
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void TitleField::insertFromMimeData(const QMimeData* source) {
    if (!source->hasText()) return;
    QString line = source->text();
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QChar::ParagraphSeparator, QLatin1Char(' '));
    line.replace(QChar::LineSeparator, QLatin1Char(' '));
    textCursor().insertText(line);
}

void TitleField::resizeEvent(QResizeEvent* event) {
    QTextEdit::resizeEvent(event);
    // A new width may need another number of lines.
    const int wanted = heightForWidth(width());
    if (wanted != laidHeight_) {
        laidHeight_ = wanted;
        updateGeometry();
    }
    verticalScrollBar()->setValue(0);
}

}  // namespace velmora
