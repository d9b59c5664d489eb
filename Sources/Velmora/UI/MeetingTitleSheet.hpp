#pragma once

// The sheet that asks what a meeting is about before it is recorded. "Начать запись" (the
// default button, so Return in the field too) closes it and hands on the typed title;
// "Отмена" and Escape close it and start nothing.

#include "Velmora/UI/Sheet.hpp"

class QLineEdit;
class QPushButton;

namespace velmora {

class MeetingTitleSheet : public Sheet {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 440;
    static constexpr int padding = 32;
    static constexpr int spacing = 14;
    static constexpr int fieldWidth = 380;
    static constexpr int titlePixels = 17;

    explicit MeetingTitleSheet(QWidget* parent = nullptr);

    QLineEdit* titleField() const { return field_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* startButton() const { return start_; }

Q_SIGNALS:
    /// After the sheet has closed: the field's text as typed.
    void startRequested(const QString& title);

private:
    QLineEdit* field_;
    QPushButton* cancel_;
    QPushButton* start_;
};

}  // namespace velmora
