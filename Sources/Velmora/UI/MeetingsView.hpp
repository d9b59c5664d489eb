#pragma once

// The meetings screen: the controls card over a list of saved meetings beside the transcript of
// one of them. It is a view over the meeting recorder and the meeting store: every change goes
// through one of them, and it redraws whenever either announces one. Its own state (the
// selection, an uncommitted title, the open title sheet, the copy confirmation, the last delete or
// rename that failed on disk) lives as long as the screen.

#ifndef Q_MOC_RUN
#include "Velmora/Meeting/Meeting.hpp"
#endif

#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>

class QStackedWidget;

namespace velmora {

class EmptyState;
class MeetingControls;
class MeetingHeader;
class MeetingList;
class MeetingRecorder;
class MeetingStore;
class MeetingTitleSheet;
class TranscriptView;

class MeetingsView : public QWidget {
    Q_OBJECT

public:
    static constexpr int padding = 32;
    /// How long the copy button confirms a copy.
    static constexpr int copiedMs = 2000;

    /// Over the recorder and the store it saves into.
    MeetingsView(MeetingRecorder& recorder, MeetingStore& store, QWidget* parent = nullptr);

    /// Whole seconds as "m:ss", or "h:mm:ss" from an hour on.
    static QString timeText(std::int64_t seconds);
    /// The date, the length and the word count, between separators: "5 декабря 2024, 09:30 · 12:34 · 250 сл.".
    static QString metaText(const Meeting& meeting, const QString& separator);

    /// The meeting the pane shows: the one being recorded, else the selected one, else null. It
    /// is the recorder's or the store's own, valid until either changes.
    const Meeting* shownMeeting() const;
    const std::optional<korbit::UUID>& selected() const { return selected_; }
    /// The meeting whose title field holds an uncommitted edit, and that text.
    const std::optional<korbit::UUID>& editing() const { return editing_; }
    const QString& renaming() const { return renaming_; }
    bool copied() const { return copied_; }

    /// Opens the title sheet with an empty field (what the idle button does); nothing while a
    /// meeting starts or records.
    void askTitle();
    /// Starts a meeting with this title, without one when it is blank; the sheet closes.
    void beginMeeting(const QString& title);

    MeetingControls* controls() const { return controls_; }
    MeetingList* list() const { return list_; }
    MeetingHeader* header() const { return header_; }
    TranscriptView* transcript() const { return transcript_; }
    /// The placeholder the pane shows without a meeting, or null while it shows one.
    EmptyState* emptyState() const;
    /// The open title sheet, or null.
    MeetingTitleSheet* titleSheet() const;

private:
    QWidget* makePane();
    void showStore();
    void showPane();
    void showHeader(const Meeting& shown);
    void pressMainButton();
    void settleStart();
    void commitTitle(const QString& text);
    void copy();
    void remove(const korbit::UUID& id);
    /// Keeps the store's answer to a delete or rename for the card: "<what><why>" on a failure,
    /// nothing once one works.
    void noteFailure(const QString& what, const std::optional<std::string>& failure);
    /// Gives the card the screen's errors: the folder that could not be read, the last failure.
    void showErrors();
    /// The recorder's meeting is this one (being recorded, or the last one, whose late lines it still adds).
    bool recorderHolds(const korbit::UUID& id) const;

    MeetingRecorder& recorder_;
    MeetingStore& store_;

    std::optional<korbit::UUID> selected_;
    QString renaming_;
    std::optional<korbit::UUID> editing_;
    bool copied_ = false;
    bool awaitingStart_ = false;
    QString failure_;

    MeetingControls* controls_;
    MeetingList* list_;
    QStackedWidget* pane_ = nullptr;
    EmptyState* firstMeeting_ = nullptr;
    EmptyState* pickMeeting_ = nullptr;
    QWidget* meetingPage_ = nullptr;
    MeetingHeader* header_ = nullptr;
    TranscriptView* transcript_ = nullptr;
    QPointer<MeetingTitleSheet> sheet_;
};

}  // namespace velmora
