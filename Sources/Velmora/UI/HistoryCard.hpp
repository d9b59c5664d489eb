#pragma once

// One dictation of the history screen: when and where it was made and how many words it had in
// a header line, then its text (selectable) or the notice that the text was erased. Under the
// pointer the header shows the full details and the copy and delete buttons.

#include "Velmora/UI/Card.hpp"

#ifndef Q_MOC_RUN
#include "Velmora/Store/Dictation.hpp"
#endif

#include <QDateTime>

class QLabel;
class QToolButton;

namespace velmora {

class StyledLabel;

class HistoryCard : public Card {
    Q_OBJECT

public:
    static constexpr int padding = 14;
    static constexpr int spacing = 6;
    static constexpr qreal headerFontPixels = 11.5;
    static constexpr qreal textFontPixels = 13.5;
    static constexpr int extraLineSpacing = 2;
    static constexpr int buttonSide = 22;

    /// The date line: "Сегодня, HH:mm", "Вчера, HH:mm", else "d MMMM, HH:mm" in Russian without a
    /// year, in local time, as of `now`.
    static QString dateText(const Date& date, const QDateTime& now = QDateTime::currentDateTime());
    /// "N сл. · S с": the words and the whole seconds of speech.
    static QString longDetails(const Dictation& dictation);
    /// "N сл.".
    static QString shortDetails(const Dictation& dictation);
    /// Whether the text was erased when its storage period ran out (the count of its characters stays).
    static bool isErased(const Dictation& dictation);
    /// "Текст стёрт по сроку хранения — N симв."
    static QString erasedNotice(const Dictation& dictation);

    explicit HistoryCard(const Dictation& dictation, QWidget* parent = nullptr);

    const Dictation& dictation() const { return dictation_; }
    bool hovered() const { return hovered_; }
    /// Shows the long details and the buttons, or the short details.
    void setHovered(bool hovered);

    StyledLabel* dateLabel() const { return date_; }
    /// Null without an application name.
    StyledLabel* appLabel() const { return app_; }
    StyledLabel* detailsLabel() const { return details_; }
    QToolButton* copyButton() const { return copy_; }
    QToolButton* deleteButton() const { return delete_; }
    /// The text, or null when the body is the erased-text notice.
    QLabel* textLabel() const { return text_; }
    /// The erased-text notice, or null.
    StyledLabel* erasedLabel() const { return erased_; }

Q_SIGNALS:
    void hoverChanged(bool hovered);
    void copyRequested();
    void deleteRequested();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Dictation dictation_;
    bool hovered_ = false;
    StyledLabel* date_;
    StyledLabel* app_ = nullptr;
    StyledLabel* details_;
    QToolButton* copy_;
    QToolButton* delete_;
    QLabel* text_ = nullptr;
    StyledLabel* erased_ = nullptr;
};

}  // namespace velmora
