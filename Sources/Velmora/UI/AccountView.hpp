#pragma once

// The account screen: who is signed in, this month's dictation, the way to the settings and
// signing out. Built anew each time the account tab is chosen.

#include "Velmora/UI/CardColumn.hpp"

#ifndef Q_MOC_RUN
#include "Velmora/Store/Dictation.hpp"
#endif

#include <QDateTime>

#include <vector>

class QPushButton;

namespace velmora {

class AccountState;
class HistoryStore;
class StyledLabel;

class AccountView : public CardColumn {
    Q_OBJECT

public:
    /// The dictations of one calendar month.
    struct MonthUse {
        std::int64_t dictations = 0;
        std::int64_t words = 0;
        /// Whole minutes of speech.
        std::int64_t minutes = 0;
        bool operator==(const MonthUse&) const = default;
    };
    /// The use in the local month of `now`.
    static MonthUse monthUse(const std::vector<Dictation>& items, const QDateTime& now = QDateTime::currentDateTime());
    /// "Диктовок: N · слов: M · минут речи: K".
    static QString useText(const MonthUse& use);

    AccountView(AccountState& account, HistoryStore& history, QWidget* parent = nullptr);

    /// The address, or "Не вошёл".
    StyledLabel* emailLabel() const { return email_; }
    StyledLabel* useLabel() const { return use_; }
    QPushButton* settingsButton() const { return settings_; }
    /// "Выйти": enabled while signed in.
    QPushButton* signOutButton() const { return signOut_; }

Q_SIGNALS:
    /// "Открыть настройки": the settings tab should be shown.
    void settingsRequested();

private:
    void refresh();

    AccountState& account_;
    HistoryStore& history_;
    StyledLabel* email_;
    StyledLabel* use_;
    QPushButton* settings_;
    QPushButton* signOut_;
};

}  // namespace velmora
