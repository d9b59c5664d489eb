#pragma once

// A text in the shared style that wraps onto at most a given number of lines and is cut with an
// ellipsis at the end of the last one when it needs more, at whatever width it is given.

#include "Velmora/UI/Design.hpp"

#include <QWidget>

namespace velmora {

class ClampedLabel : public QWidget {
    Q_OBJECT

public:
    ClampedLabel(const QString& text, const QFont& font, Design::Level level, int maxLines, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    Design::Level level() const { return level_; }
    void setLevel(Design::Level level);
    int maxLines() const { return maxLines_; }

    /// The lines as drawn at the current width, the last one cut with "…" when the text goes on.
    QStringList shownLines() const;
    /// Whether the text had to be cut at the current width.
    bool isCut() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return maxLines_ > 1; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Laid {
        QStringList lines;
        bool cut = false;
    };
    Laid lay(int width) const;

    QString text_;
    Design::Level level_;
    int maxLines_;
};

}  // namespace velmora
