#include "Velmora/UI/MeetingsView.hpp"

#include "Velmora/Insert/TextInserter.hpp"
#include "Velmora/Meeting/MeetingRecorder.hpp"
#include "Velmora/Meeting/MeetingStore.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Divider.hpp"
#include "Velmora/UI/EmptyState.hpp"
#include "Velmora/UI/MeetingControls.hpp"
#include "Velmora/UI/MeetingHeader.hpp"
#include "Velmora/UI/MeetingList.hpp"
#include "Velmora/UI/MeetingTitleSheet.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/TranscriptView.hpp"

#include <QHBoxLayout>
#include <QStackedWidget>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

QString MeetingsView::timeText(std::int64_t seconds) {
    const auto two = [](std::int64_t value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    if (seconds >= 3600)
        return QString::number(seconds / 3600) + QLatin1Char(':') + two((seconds % 3600) / 60) + QLatin1Char(':') +
               two(seconds % 60);
    return QString::number(seconds / 60) + QLatin1Char(':') + two(seconds % 60);
}

QString MeetingsView::metaText(const Meeting& meeting, const QString& separator) {
    return QString::fromStdString(Meeting::dateText(meeting.startedAt)) + separator + timeText(meeting.durationSec) +
           separator + QString::number(meeting.words()) + QStringLiteral(" сл.");
}

MeetingsView::MeetingsView(MeetingRecorder& recorder, MeetingStore& store, QWidget* parent)
    : QWidget(parent), recorder_(recorder), store_(store) {
    setFont(Design::font(Design::TextStyle::body));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* top = new QVBoxLayout;
    top->setContentsMargins(padding, padding, padding, padding);
    controls_ = new MeetingControls(recorder_, this);
    top->addWidget(controls_);
    layout->addLayout(top);
    layout->addWidget(new Divider(this));

    auto* panes = new QHBoxLayout;
    panes->setSpacing(0);
    list_ = new MeetingList(this);
    panes->addWidget(list_);
    panes->addWidget(new Divider(Qt::Vertical, this));
    panes->addWidget(makePane(), 1);
    layout->addLayout(panes, 1);

    connect(controls_, &MeetingControls::mainButtonClicked, this, &MeetingsView::pressMainButton);
    connect(list_, &MeetingList::picked, this, [this](const korbit::UUID& id) {
        selected_ = id;
        showPane();
    });
    connect(list_, &MeetingList::deleteRequested, this, &MeetingsView::remove);
    // No deleting while recording: the meeting would come back with the recorder's next save.
    list_->setCanDelete([this](const korbit::UUID& id) { return !(recorder_.isRecording() && recorderHolds(id)); });

    connect(&store_, &MeetingStore::meetingsChanged, this, &MeetingsView::showStore);
    connect(&recorder_, &MeetingRecorder::meetingChanged, this, &MeetingsView::showPane);
    connect(&recorder_, &MeetingRecorder::recordingChanged, this, &MeetingsView::showPane);
    connect(&recorder_, &MeetingRecorder::elapsedChanged, this, [this] {
        if (!recorder_.isRecording() || !recorder_.meeting()) return;
        showHeader(*recorder_.meeting());
    });
    // The recorder announces the end of its start before the meeting begins: look once it has.
    connect(&recorder_, &MeetingRecorder::startingChanged, this, &MeetingsView::settleStart, Qt::QueuedConnection);
    // An empty list must not pass for no meetings when the folder could not be read.
    if (store_.readError()) list_->placeholder()->setText(QStringLiteral("Встречи не удалось прочитать"));
    showErrors();
    showStore();
}

QWidget* MeetingsView::makePane() {
    pane_ = new QStackedWidget(this);

    auto* start = new BrandButton(QStringLiteral("Записать встречу"), false);
    connect(start, &QAbstractButton::clicked, this, &MeetingsView::askTitle);
    firstMeeting_ = new EmptyState(
        "person.2.wave.2", QStringLiteral("Запиши первую встречу"),
        QStringLiteral("Приложение услышит и тебя, и собеседников. Сохранится только текст — звук не пишется."), start,
        pane_);
    pickMeeting_ = new EmptyState("person.2.wave.2", QStringLiteral("Выбери встречу слева"),
                                  QStringLiteral("Расшифровка появится здесь."), nullptr, pane_);

    meetingPage_ = new QWidget(pane_);
    auto* page = new QVBoxLayout(meetingPage_);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    header_ = new MeetingHeader(meetingPage_);
    page->addWidget(header_);
    page->addWidget(new Divider(meetingPage_));
    transcript_ = new TranscriptView(meetingPage_);
    page->addWidget(transcript_, 1);

    pane_->addWidget(firstMeeting_);
    pane_->addWidget(pickMeeting_);
    pane_->addWidget(meetingPage_);

    connect(header_, &MeetingHeader::titleEdited, this, [this](const QString& text) {
        const Meeting* shown = shownMeeting();
        if (shown == nullptr) return;
        renaming_ = text;
        editing_ = shown->id;
    });
    connect(header_, &MeetingHeader::titleCommitted, this, &MeetingsView::commitTitle);
    connect(header_, &MeetingHeader::copyRequested, this, &MeetingsView::copy);
    return pane_;
}

EmptyState* MeetingsView::emptyState() const {
    return qobject_cast<EmptyState*>(pane_->currentWidget());
}

MeetingTitleSheet* MeetingsView::titleSheet() const {
    return sheet_;
}

bool MeetingsView::recorderHolds(const korbit::UUID& id) const {
    return recorder_.meeting() && recorder_.meeting()->id == id;
}

const Meeting* MeetingsView::shownMeeting() const {
    if (recorder_.isRecording() && recorder_.meeting()) return &*recorder_.meeting();
    if (!selected_) return nullptr;
    const auto& meetings = store_.meetings();
    const auto found =
        std::find_if(meetings.begin(), meetings.end(), [&](const Meeting& m) { return m.id == *selected_; });
    return found == meetings.end() ? nullptr : &*found;
}

void MeetingsView::showStore() {
    list_->setMeetings(store_.meetings(), selected_);
    showPane();
}

void MeetingsView::showPane() {
    const Meeting* shown = shownMeeting();
    if (shown == nullptr) {
        pane_->setCurrentWidget(store_.meetings().empty() ? firstMeeting_ : pickMeeting_);
        return;
    }
    showHeader(*shown);
    transcript_->setMeeting(*shown, recorder_.isRecording());
    pane_->setCurrentWidget(meetingPage_);
}

void MeetingsView::showHeader(const Meeting& shown) {
    const QString title = editing_ == shown.id ? renaming_ : QString::fromStdString(shown.title);
    // The live copy's length is that of its last save: the header runs with the card's clock.
    if (recorder_.isRecording() && recorderHolds(shown.id)) {
        Meeting live = shown;
        live.durationSec = recorder_.elapsed();
        header_->setMeeting(live, title, copied_);
        return;
    }
    header_->setMeeting(shown, title, copied_);
}

void MeetingsView::pressMainButton() {
    // Stopping during the start calls the start off.
    if (recorder_.isRecording() || recorder_.isStarting())
        recorder_.stop();
    else
        askTitle();
}

void MeetingsView::askTitle() {
    if (sheet_ != nullptr || recorder_.isRecording() || recorder_.isStarting()) return;
    sheet_ = new MeetingTitleSheet(this);
    connect(sheet_, &MeetingTitleSheet::startRequested, this, &MeetingsView::beginMeeting);
    // However the sheet goes away, it is gone; only its start button starts anything.
    connect(sheet_, &QDialog::finished, this, [this] {
        if (sheet_ != nullptr) sheet_->deleteLater();
        sheet_ = nullptr;
    });
    sheet_->open();
}

void MeetingsView::beginMeeting(const QString& title) {
    if (sheet_ != nullptr) sheet_->accept();
    const QString trimmed = title.trimmed();
    awaitingStart_ = true;
    recorder_.start(trimmed.isEmpty() ? std::nullopt : std::optional<std::string>(trimmed.toStdString()));
    // A refusal (no model on disk) comes back at once, without a start on the worker.
    if (!recorder_.isStarting()) settleStart();
}

void MeetingsView::settleStart() {
    if (!awaitingStart_ || recorder_.isStarting()) return;
    awaitingStart_ = false;
    // A failed start changes nothing here: its error shows in the card.
    if (!recorder_.isRecording() || !recorder_.meeting()) return;
    selected_ = recorder_.meeting()->id;
    showStore();
}

void MeetingsView::commitTitle(const QString& text) {
    const Meeting* shown = shownMeeting();
    if (shown == nullptr) return;
    const korbit::UUID id = shown->id;
    // The recorder saves its own copy after every line, so its meeting is renamed through it; it
    // tells of a failed save in its own error.
    if (!recorder_.rename(id, text.toStdString()))
        noteFailure(QStringLiteral("Не удалось переименовать встречу: "), store_.rename(*shown, text.toStdString()));
    editing_.reset();
    renaming_.clear();
    showPane();
}

void MeetingsView::copy() {
    const Meeting* shown = shownMeeting();
    if (shown == nullptr) return;
    TextInserter::copyToPasteboard(shown->plainText());
    copied_ = true;
    showPane();
    // Each copy has its own timer; the first to run out ends the confirmation.
    QTimer::singleShot(copiedMs, Qt::PreciseTimer, this, [this] {
        copied_ = false;
        showPane();
    });
}

void MeetingsView::remove(const korbit::UUID& id) {
    if (recorder_.isRecording() && recorderHolds(id)) return;
    const auto& meetings = store_.meetings();
    const auto found = std::find_if(meetings.begin(), meetings.end(), [&](const Meeting& m) { return m.id == id; });
    if (found == meetings.end()) return;
    noteFailure(QStringLiteral("Не удалось удалить встречу: "), store_.remove(*found));
}

void MeetingsView::noteFailure(const QString& what, const std::optional<std::string>& failure) {
    failure_ = failure ? what + QString::fromStdString(*failure) : QString();
    showErrors();
}

void MeetingsView::showErrors() {
    QStringList errors;
    if (const auto& error = store_.readError())
        errors << QStringLiteral("Не удалось прочитать папку встреч ") +
                      QString::fromStdString(store_.folder().string()) + QStringLiteral(": ") +
                      QString::fromStdString(*error);
    if (!failure_.isEmpty()) errors << failure_;
    controls_->setScreenError(errors.join(QLatin1Char('\n')));
}

}  // namespace velmora
