#include "Velmora/UI/BlockView.hpp"

#include "Velmora/UI/StyledLabel.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextDocument>
#include <QVBoxLayout>

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

QString markup(const std::string& text) {
    // Rich text only for the spacing between lines; the words themselves are escaped.
    return QStringLiteral("<p style=\"margin:0; line-height:%1px; -qt-line-height-type:line-distance;\">%2</p>")
        .arg(BlockView::lineSpacing)
        .arg(QString::fromStdString(text).toHtmlEscaped());
}

}  // namespace

BlockView::BlockView(const Meeting::Block& block, QWidget* parent) : QWidget(parent), block_(block) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);

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

    text_ = new QLabel(this);
    text_->setFont(Design::font(textPixels));
    text_->setTextFormat(Qt::RichText);
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    text_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    text_->setText(markup(block.text));
    layout->addWidget(text_);
}

void BlockView::setBlock(const Meeting::Block& block) {
    if (block.text != block_.text) text_->setText(markup(block.text));
    block_ = block;
}

QString BlockView::text() const {
    QTextDocument document;
    document.setHtml(text_->text());
    return document.toPlainText();
}

}  // namespace velmora
