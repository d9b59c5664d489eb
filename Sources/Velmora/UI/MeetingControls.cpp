#include "Velmora/UI/MeetingControls.hpp"

#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/MeetingsView.hpp"
#include "Velmora/UI/Spinner.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"
#include "Velmora/UI/Transition.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>

namespace velmora {

namespace {

// Appears and disappears with the screens' standard change, at once when motion is reduced.
void showIf(QWidget* widget, bool shown) {
    Transition::of(widget)->setShown(shown);
}

}  // namespace

MeetingControls::MeetingControls(MeetingRecorder& recorder, QWidget* parent)
    : Card(cardPadding, parent), recorder_(recorder) {
    QVBoxLayout* layout = contentLayout();
    layout->setSpacing(spacing);
    const QFont callout = Design::font(Design::TextStyle::callout);

    auto* row = new QHBoxLayout;
    row->setSpacing(spacing);
    button_ = new BrandButton(QStringLiteral("Записать встречу"), false, this);
    button_->setMinimumLabelWidth(buttonLabelWidth);
    row->addWidget(button_, 0, Qt::AlignVCenter);

    time_ = new SymbolLabel("record.circle", QString(), Design::font(Design::TextStyle::body, QFont::Medium),
                            Design::destructive(), this);
    row->addWidget(time_, 0, Qt::AlignVCenter);

    pending_ = new QWidget(this);
    auto* pendingRow = new QHBoxLayout(pending_);
    pendingRow->setContentsMargins(0, 0, 0, 0);
    pendingRow->setSpacing(pendingSpacing);
    spinner_ = new Spinner(spinnerSide, 1.0, pending_);
    pendingRow->addWidget(spinner_, 0, Qt::AlignVCenter);
    pendingText_ = new StyledLabel(QString(), callout, Design::Level::secondary, pending_);
    pendingRow->addWidget(pendingText_, 0, Qt::AlignVCenter);
    row->addWidget(pending_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    layout->addLayout(row);

    error_ = new SymbolLabel("exclamationmark.triangle.fill", QString(), callout, Design::orange(), this);
    error_->setWordWrap(true);
    layout->addWidget(error_);

    notHeard_ = new SymbolLabel(
        "questionmark.circle",
        QStringLiteral("Собеседников не слышно — проверь, что их звук идёт на устройство вывода по умолчанию"), callout,
        Design::Level::secondary, this);
    notHeard_->setWordWrap(true);
    layout->addWidget(notHeard_);

    note_ =
        new StyledLabel(QStringLiteral("Слышно и тебя, и собеседников. Сохраняется только текст — звук не пишется."),
                        callout, Design::Level::secondary, this);
    note_->setWordWrap(true);
    layout->addWidget(note_);

    for (QWidget* changing :
         {static_cast<QWidget*>(time_), pending_, static_cast<QWidget*>(notHeard_), static_cast<QWidget*>(note_)}) {
        changing->hide();
        Transition::attach(changing, 0, MotionCurve::standard());
    }
    error_->hide();
    Transition::attach(error_, errorOffset, MotionCurve::standard());

    connect(button_, &QAbstractButton::clicked, this, &MeetingControls::mainButtonClicked);
    for (auto signal :
         {&MeetingRecorder::recordingChanged, &MeetingRecorder::startingChanged, &MeetingRecorder::elapsedChanged,
          &MeetingRecorder::pendingChanged, &MeetingRecorder::lastErrorChanged, &MeetingRecorder::heardOthersChanged})
        connect(&recorder_, signal, this, &MeetingControls::follow);
    follow();
}

void MeetingControls::setScreenError(const QString& text) {
    if (text == screenError_) return;
    screenError_ = text;
    follow();
}

void MeetingControls::follow() {
    const bool recording = recorder_.isRecording();
    // A start that still waits for the sound server can be called off with the same button.
    const bool stoppable = recording || recorder_.isStarting();
    button_->setText(stoppable ? QStringLiteral("Остановить запись") : QStringLiteral("Записать встречу"));
    button_->setSymbol(stoppable ? "stop.circle.fill" : "person.2.wave.2.fill");

    time_->setText(MeetingsView::timeText(recorder_.elapsed()));
    showIf(time_, recording);
    const std::int64_t pending = recorder_.pending();
    if (pending > 0) pendingText_->setText(QStringLiteral("расшифровываю ") + QString::number(pending));
    showIf(pending_, recording && pending > 0);

    QStringList errors;
    if (const auto& error = recorder_.lastError()) errors << QString::fromStdString(*error);
    if (!screenError_.isEmpty()) errors << screenError_;
    if (!errors.isEmpty()) error_->setText(errors.join(QLatin1Char('\n')));
    showIf(error_, !errors.isEmpty());

    showIf(notHeard_, recording && recorder_.elapsed() > notHeardAfter && !recorder_.heardOthers());
    showIf(note_, !recording);
}

}  // namespace velmora
