#pragma once

// The history screen: the dictations of the history store, newest first, one card each, with a
// search over their texts, the total count and a menu to erase everything after a confirmation.
// With an empty history it shows a placeholder whose button leads to the settings tab. Every
// change goes straight to the store; the screen keeps no copy and redraws when the store changes.

#ifndef Q_MOC_RUN
#include "KorbitCore/UUID.hpp"
#include "Velmora/Store/Dictation.hpp"
#endif

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QAction;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace velmora {

class EmptyState;
class HistoryCard;
class HistoryStore;
class SearchBox;
class StyledLabel;

class HistoryView : public QWidget {
    Q_OBJECT

public:
    static constexpr int horizontalPadding = 32;
    static constexpr int searchBarVerticalPadding = 14;
    static constexpr int searchBarSpacing = 14;
    static constexpr int searchBoxHeight = 28;
    static constexpr int searchFieldWidth = 240;
    static constexpr int cardSpacing = 8;
    static constexpr int menuWidth = 22;
    static constexpr int confirmationWidth = 400;
    /// Cards are built this many at a time, the next ones as the list scrolls near its end.
    static constexpr int batchSize = 40;

    /// The records to list: newest first, equal dates in store order; a search (as typed, blanks
    /// included) keeps the texts that contain it without regard to case.
    static std::vector<Dictation> filtered(const std::vector<Dictation>& items, const QString& search);
    /// "Удалить N записей?", the noun in the number's form ("1 запись", "2 записи").
    static QString clearAllTitle(std::size_t count);

    explicit HistoryView(HistoryStore& history, QWidget* parent = nullptr);
    /// Over the process's history.
    explicit HistoryView(QWidget* parent = nullptr);

    QLineEdit* searchField() const;
    /// Empties the search; shown only while there is one.
    QToolButton* clearSearchButton() const { return clearSearch_; }
    /// The search bar: shown while the history holds a dictation.
    QWidget* searchBar() const { return searchBar_; }
    StyledLabel* countLabel() const { return count_; }
    QToolButton* menuButton() const { return menu_; }
    /// The menu's "Удалить всю историю…".
    QAction* clearAllAction() const { return clearAll_; }
    /// The placeholder of an empty history.
    EmptyState* emptyState() const { return empty_; }
    QPushButton* howItWorksButton() const { return howItWorks_; }
    QScrollArea* list() const { return scroll_; }
    /// The cards built so far, top to bottom.
    std::vector<HistoryCard*> cards() const;
    /// How many records the list holds (built or not).
    std::size_t listedCount() const { return listed_.size(); }
    const std::optional<korbit::UUID>& hovered() const { return hovered_; }
    /// The open clear-all confirmation, or null.
    QMessageBox* confirmation() const;

    /// Opens the clear-all confirmation (what the menu item does).
    void confirmClearAll();
    /// Builds the next cards of the list, if any are left.
    void buildMore();

Q_SIGNALS:
    /// The placeholder's "Как это работает": the settings tab should be shown.
    void settingsRequested();

private:
    QWidget* makeSearchBar();
    void rebuild();
    void showReadError();
    void setHovered(const std::optional<korbit::UUID>& id);
    void maybeBuildMore();

    HistoryStore& history_;
    QWidget* searchBar_ = nullptr;
    SearchBox* search_ = nullptr;
    QToolButton* clearSearch_ = nullptr;
    StyledLabel* count_ = nullptr;
    QToolButton* menu_ = nullptr;
    QAction* clearAll_ = nullptr;
    EmptyState* empty_ = nullptr;
    QPushButton* howItWorks_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QVBoxLayout* cardsLayout_ = nullptr;
    std::vector<Dictation> listed_;
    std::size_t built_ = 0;
    std::optional<korbit::UUID> hovered_;
    QPointer<QMessageBox> confirmation_;
};

}  // namespace velmora
