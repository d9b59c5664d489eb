#pragma once

// An editable title that wraps onto as many lines as it needs and grows in height with them, on
// the colour of what lies behind it. It holds one line of text: Return commits it instead of
// breaking the line, and pasted line breaks become blanks.

#include <QTextEdit>

namespace velmora {

class TitleField : public QTextEdit {
    Q_OBJECT

public:
    explicit TitleField(const QFont& font, QWidget* parent = nullptr);

    QString text() const { return toPlainText(); }
    /// Shows the text from its beginning, without announcing an edit.
    void setText(const QString& text);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    /// Where the first line's baseline lies, from the top (the inset included).
    int firstBaseline() const;
    /// Room left empty above the text.
    void setTopInset(int inset);
    int topInset() const { return topInset_; }

Q_SIGNALS:
    /// The user changed the text.
    void textEdited(const QString& text);
    /// Return, with the text.
    void committed(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool setting_ = false;
    int topInset_ = 0;
    int laidHeight_ = 0;
};

}  // namespace velmora
