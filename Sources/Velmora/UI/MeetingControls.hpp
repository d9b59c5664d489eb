#pragma once

// The meetings screen's controls card: the button that starts and stops a recording (or calls
// off a start that still waits), the running time and the chunks still being transcribed, the
// recorder's last error and the screen's own (a delete or rename that failed on disk, a folder
// that cannot be read), the hint that the other side is not heard, and a note on what is kept.
// It follows the recorder by itself; what the button does is the screen's.

#include "Velmora/UI/Card.hpp"

namespace velmora {

class BrandButton;
class Spinner;
class MeetingRecorder;
class StyledLabel;
class SymbolLabel;

class MeetingControls : public Card {
    Q_OBJECT

public:
    static constexpr int cardPadding = 22;
    static constexpr int spacing = 14;
    static constexpr int buttonLabelWidth = 180;
    static constexpr int pendingSpacing = 4;
    /// A small spinner.
    static constexpr int spinnerSide = 14;
    /// Offset of the error as it comes in.
    static constexpr int errorOffset = 4;
    /// The hint shows from this many seconds without speech from the other side.
    static constexpr std::int64_t notHeardAfter = 40;

    explicit MeetingControls(MeetingRecorder& recorder, QWidget* parent = nullptr);

    BrandButton* mainButton() const { return button_; }
    SymbolLabel* timeLabel() const { return time_; }
    /// The spinner and the "расшифровываю N" text.
    QWidget* pendingGroup() const { return pending_; }
    StyledLabel* pendingLabel() const { return pendingText_; }
    Spinner* spinner() const { return spinner_; }
    SymbolLabel* errorLabel() const { return error_; }
    /// The screen's own error, shown in the error label under the recorder's; empty for none.
    void setScreenError(const QString& text);
    SymbolLabel* notHeardLabel() const { return notHeard_; }
    StyledLabel* idleNote() const { return note_; }

Q_SIGNALS:
    void mainButtonClicked();

private:
    void follow();

    MeetingRecorder& recorder_;
    BrandButton* button_;
    SymbolLabel* time_;
    QWidget* pending_;
    Spinner* spinner_;
    StyledLabel* pendingText_;
    SymbolLabel* error_;
    QString screenError_;
    SymbolLabel* notHeard_;
    StyledLabel* note_;
};

}  // namespace velmora
