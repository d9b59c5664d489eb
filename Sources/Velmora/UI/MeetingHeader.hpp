#pragma once

// The head of a shown meeting: its title as an editable field that wraps, the date, length and
// word count under it, and the button that copies the whole meeting as text, level with the
// title's first line. The screen decides what the field shows and what an edit or a copy does.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <QWidget>

class QPushButton;
class QSpacerItem;
class QVBoxLayout;

namespace velmora {

class ClampedLabel;
class TitleField;

class MeetingHeader : public QWidget {
    Q_OBJECT

public:
    static constexpr int padding = 32;
    static constexpr int spacing = 14;
    static constexpr int textSpacing = 3;
    static constexpr int titlePixels = 16;
    /// The details take at most this many lines (one, unless the pane is very narrow).
    static constexpr int metaLines = 3;
    /// The copy button shows its label while the title keeps at least this width beside it and
    /// needs no more lines than beside the symbol alone; otherwise the button shows its symbol,
    /// with the label as its tooltip.
    static constexpr int titleRoom = 120;

    explicit MeetingHeader(QWidget* parent = nullptr);

    /// Shows the meeting with this text in the title field (left alone when it already holds it,
    /// so typing is not disturbed) and the copy button confirming a copy or not.
    void setMeeting(const Meeting& meeting, const QString& title, bool copied);

    TitleField* titleField() const { return title_; }
    ClampedLabel* metaLabel() const { return meta_; }
    QPushButton* copyButton() const { return copy_; }
    /// What the copy button says ("Скопировать встречу", or "Скопировано" after a copy), shown
    /// on it or, while the pane is narrow, as its tooltip.
    const QString& copyLabel() const { return copyLabel_; }
    /// Whether the button shows its symbol alone.
    bool isCopyFolded() const;

Q_SIGNALS:
    /// The user changed the title's text.
    void titleEdited(const QString& text);
    /// Return in the title field, with the text it shows.
    void titleCommitted(const QString& text);
    void copyRequested();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// Puts the button's text on the title's first baseline.
    void alignButton();
    /// Shows the label on the button, or its symbol alone when the title would be left too little.
    void fitButton();

    TitleField* title_;
    QVBoxLayout* buttonColumn_;
    QSpacerItem* buttonDrop_;
    QString copyLabel_;
    ClampedLabel* meta_;
    QPushButton* copy_;
};

}  // namespace velmora
