#include "Velmora/UI/BlockView.hpp"

#include "Velmora/UI/StyledLabel.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextDocument>
#include <QVBoxLayout>

#include <map>

namespace velmora {

namespace {

QString speakerText(MeetingLine::Speaker speaker) {
    return QString::fromStdString(std::string(Meeting::speakerLabel(speaker)));
}

// A label whose letters are filled with the brand gradient across the label.
class GradientLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setPen(QPen(QBrush(Design::brandGradient(QRectF(rect()))), 1));
        painter.setFont(font());
        painter.drawText(contentsRect(), static_cast<int>(alignment()), text());
    }
};

// A wrapping label that keeps its height at the widths it was asked for. The layouts around a
// transcript ask every view again after each change of any of them, and each answer of a label
// lays its whole text out twice.
class WrappedText : public QLabel {
public:
    using QLabel::QLabel;

    void setMarkup(const QString& markup) {
        heights_.clear();
        setText(markup);
    }
    int heightForWidth(int width) const override {
        if (const auto found = heights_.find(width); found != heights_.end()) return found->second;
        const int height = QLabel::heightForWidth(width);
        // A few widths come back (the pane's with and without its scroll bar, the hints'); any
        // other is passing.
        if (heights_.size() >= 8) heights_.clear();
        heights_.emplace(width, height);
        return height;
    }

    // Qt's hints of a wrapping label lay its text out at more widths (the widest, the narrowest,
    // a pleasing one), and the layouts ask for heights at the widths of these hints again
    // whenever anything in the transcript changes. The views take the pane's width whatever
    // their hints, so the hints here are one fixed width, narrower than the least pane; the least
    // height is a line's, as Qt's own.
    QSize sizeHint() const override { return {hintWidth, heightForWidth(hintWidth)}; }
    QSize minimumSizeHint() const override { return {hintWidth, fontMetrics().lineSpacing()}; }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) heights_.clear();
        QLabel::changeEvent(event);
    }

private:
    static constexpr int hintWidth = 200;
    mutable std::map<int, int> heights_;
};

QString markup(const std::string& text) {
    // Rich text only for the spacing between lines; the words themselves are escaped.
    return QStringLiteral("<p style=\"margin:0; line-height:%1px; -qt-line-height-type:line-distance;\">%2</p>")
        .arg(BlockView::lineSpacing)
        .arg(QString::fromStdString(text).toHtmlEscaped());
}

}  // namespace

BlockView::BlockView(const Meeting::Block& block, int part, QWidget* parent)
    : QWidget(parent), block_(block), part_(part) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);

    if (part == 0) {
        auto* head = new QHBoxLayout;
        head->setSpacing(headSpacing);
        const QFont speakerFont = Design::font(speakerPixels, QFont::DemiBold);
        if (block.speaker == MeetingLine::Speaker::me) {
            speaker_ = new GradientLabel(speakerText(block.speaker), this);
            speaker_->setFont(speakerFont);
        } else {
            speaker_ = new StyledLabel(speakerText(block.speaker), speakerFont, Design::Level::secondary, this);
        }
        head->addWidget(speaker_, 0, Qt::AlignVCenter);
        time_ = new StyledLabel(QString::fromStdString(Meeting::clockText(block.at)),
                                Design::font(Design::TextStyle::caption), Design::Level::tertiary, this);
        head->addWidget(time_, 0, Qt::AlignVCenter);
        head->addStretch(1);
        layout->addLayout(head);
    }

    auto* text = new WrappedText(this);
    text_ = text;
    text_->setFont(Design::font(textPixels));
    text_->setTextFormat(Qt::RichText);
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    text_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    text->setMarkup(markup(block.text));
    layout->addWidget(text_);
}

void BlockView::setBlock(const Meeting::Block& block) {
    if (block.text != block_.text) static_cast<WrappedText*>(text_)->setMarkup(markup(block.text));
    block_ = block;
}

QString BlockView::text() const {
    QTextDocument document;
    document.setHtml(text_->text());
    return document.toPlainText();
}

}  // namespace velmora
