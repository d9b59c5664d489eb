#include "Velmora/UI/AccountView.hpp"

#include "Velmora/Account/AccountState.hpp"
#include "Velmora/Store/HistoryStore.hpp"
#include "Velmora/UI/Card.hpp"
#include "Velmora/UI/SectionHeader.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTimeZone>
#include <QVBoxLayout>

#include <chrono>

namespace velmora {

AccountView::MonthUse AccountView::monthUse(const std::vector<Dictation>& items, const QDateTime& now) {
    MonthUse use;
    std::int64_t milliseconds = 0;
    const QDate today = now.date();
    for (const Dictation& dictation : items) {
        const auto ms = std::chrono::floor<std::chrono::milliseconds>(dictation.date).time_since_epoch().count();
        const QDate day = QDateTime::fromMSecsSinceEpoch(ms, now.timeZone()).date();
        if (day.year() != today.year() || day.month() != today.month()) continue;
        ++use.dictations;
        use.words += dictation.words();
        milliseconds += dictation.durationMs;
    }
    use.minutes = milliseconds / 60000;
    return use;
}

QString AccountView::useText(const MonthUse& use) {
    return QStringLiteral("Диктовок: ") + QString::number(use.dictations) + QStringLiteral(" · слов: ") +
           QString::number(use.words) + QStringLiteral(" · минут речи: ") + QString::number(use.minutes);
}

AccountView::AccountView(AccountState& account, HistoryStore& history, QWidget* parent)
    : CardColumn(parent), account_(account), history_(history) {
    auto* who = new Card(cardPadding);
    who->contentLayout()->setSpacing(cardContentSpacing);
    who->contentLayout()->addWidget(new SectionHeader(QStringLiteral("Вход"), std::nullopt, who));
    email_ =
        new StyledLabel(QString(), Design::font(Design::TextStyle::body, QFont::Medium), Design::Level::primary, who);
    email_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    who->contentLayout()->addWidget(email_);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    settings_ = new QPushButton(QStringLiteral("Открыть настройки"), who);
    settings_->setAutoDefault(false);
    signOut_ = new QPushButton(QStringLiteral("Выйти"), who);
    signOut_->setAutoDefault(false);
    buttons->addWidget(settings_);
    buttons->addWidget(signOut_);
    buttons->addStretch(1);
    who->contentLayout()->addLayout(buttons);
    addCard(who);

    auto* month = new Card(cardPadding);
    month->contentLayout()->setSpacing(cardContentSpacing);
    month->contentLayout()->addWidget(new SectionHeader(
        QStringLiteral("Этот месяц"), QStringLiteral("Сколько ты надиктовал с первого числа."), month));
    use_ = new StyledLabel(QString(), Design::font(Design::TextStyle::body), Design::Level::secondary, month);
    month->contentLayout()->addWidget(use_);
    addCard(month);

    connect(settings_, &QPushButton::clicked, this, &AccountView::settingsRequested);
    connect(signOut_, &QPushButton::clicked, this, [this] { account_.signOut(); });
    connect(&account_, &AccountState::changed, this, &AccountView::refresh);
    connect(&history_, &HistoryStore::itemsChanged, this, &AccountView::refresh);
    refresh();
}

void AccountView::refresh() {
    email_->setText(account_.signedIn() ? (account_.email().empty() ? QStringLiteral("Вход выполнен")
                                                                    : QString::fromStdString(account_.email()))
                                        : QStringLiteral("Не вошёл"));
    signOut_->setEnabled(account_.signedIn());
    use_->setText(useText(monthUse(history_.items())));
}

}  // namespace velmora
