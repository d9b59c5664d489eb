#include "Velmora/Account/AccountState.hpp"
#include "Velmora/Support/Notifications.hpp"
#include "Velmora/UI/AccountView.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include "MainServicesFixture.hpp"
#include "QtApplication.hpp"
#include "Support/FileMode.hpp"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace velmora;
using namespace std::chrono;
using velmora::test::TempDir;
using velmora::test::TestServices;

TEST(AccountStateTest, SignInIsKeptOwnerOnlyAndSignOutKeepsTheAddress) {
    TempDir dir;
    const auto file = dir / "account.json";
    {
        AccountState state(file);
        EXPECT_FALSE(state.signedIn());
        EXPECT_TRUE(state.email().empty());
        EXPECT_FALSE(std::filesystem::exists(file));
        QSignalSpy changed(&state, &AccountState::changed);
        state.signIn("key-123", "ivan@example.com");
        EXPECT_EQ(changed.count(), 1);
        EXPECT_EQ(test::modeOf(file), 0600u);
    }
    AccountState again(file);
    EXPECT_TRUE(again.signedIn());
    EXPECT_EQ(again.accessKey(), "key-123");
    EXPECT_EQ(again.email(), "ivan@example.com");

    QSignalSpy posted(&Notifications::shared(), &Notifications::posted);
    again.signOut();
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(posted.at(0).at(0).toString(), "velmora.needs-sign-in");
    EXPECT_FALSE(again.signedIn());
    AccountState afterwards(file);
    EXPECT_FALSE(afterwards.signedIn());
    EXPECT_EQ(afterwards.email(), "ivan@example.com");
}

TEST(AccountStateTest, AnUnreadableFileMeansNobodyHasSignedIn) {
    TempDir dir;
    for (const char* content : {"not json", "[1, 2]", R"({"accessKey": 5, "email": ["x"]})", R"({"accessKey": ""})"}) {
        test::writeFile(dir / "account.json", content);
        AccountState state(dir / "account.json");
        EXPECT_FALSE(state.signedIn()) << content;
        EXPECT_TRUE(state.email().empty()) << content;
    }
}

// A damaged file is kept aside before a sign-in writes a new one; a file that cannot be opened at
// all is never written.
TEST(AccountStateTest, AFileThatCannotBeReadIsNeverWrittenOver) {
    TempDir dir;
    test::writeFile(dir / "account.json", "not json");
    AccountState damaged(dir / "account.json");
    damaged.signIn("key-1", "a@b.c");
    bool setAside = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (!entry.path().filename().string().starts_with("account.json.bad-")) continue;
        setAside = true;
        EXPECT_EQ(test::readFile(entry.path()), "not json");
    }
    EXPECT_TRUE(setAside);
    EXPECT_EQ(AccountState(dir / "account.json").accessKey(), "key-1");

    const auto loop = dir / "loop.json";
    std::filesystem::create_symlink(loop.filename(), loop);
    AccountState unopened(loop);
    ASSERT_TRUE(unopened.readError());
    unopened.signIn("key-2", "d@e.f");
    EXPECT_TRUE(unopened.signedIn()) << "in memory";
    EXPECT_TRUE(std::filesystem::is_symlink(loop));
}

TEST(AccountUseTest, CountsTheDictationsOfTheCurrentMonth) {
    const QTimeZone utc = QTimeZone::utc();
    const QDateTime now(QDate(2024, 12, 15), QTime(12, 0), utc);
    const auto at = [&](int month, int day) {
        return Date(milliseconds(QDateTime(QDate(2024, month, day), QTime(10, 0), utc).toMSecsSinceEpoch()));
    };
    std::vector<Dictation> items(4);
    items[0].date = at(12, 1);
    items[0].text = "раз два три";
    items[0].durationMs = 50000;
    items[1].date = at(12, 14);
    items[1].wordCount = 7;
    items[1].durationMs = 20000;
    items[2].date = at(11, 30);
    items[2].text = "прошлый месяц";
    items[2].durationMs = 600000;
    items[3].date = Date(milliseconds(QDateTime(QDate(2023, 12, 5), QTime(9, 0), utc).toMSecsSinceEpoch()));
    items[3].text = "год назад";
    const AccountView::MonthUse use = AccountView::monthUse(items, now);
    EXPECT_EQ(use, (AccountView::MonthUse{2, 10, 1}));
    EXPECT_EQ(AccountView::useText(use), "Диктовок: 2 · слов: 10 · минут речи: 1");
}

TEST(AccountViewTest, ShowsWhoIsSignedInAndSignsOut) {
    TestServices services;
    services.account.signIn("key", "ivan@example.com");
    services.dictate("раз два", system_clock::now());
    AccountView view(services.account, services.history);
    view.show();
    EXPECT_EQ(view.emailLabel()->text(), "ivan@example.com");
    EXPECT_EQ(view.useLabel()->text(), "Диктовок: 1 · слов: 2 · минут речи: 0");
    ASSERT_TRUE(view.signOutButton()->isEnabled());
    services.dictate("три", system_clock::now());
    EXPECT_EQ(view.useLabel()->text(), "Диктовок: 2 · слов: 3 · минут речи: 0");

    QTest::mouseClick(view.signOutButton(), Qt::LeftButton);
    EXPECT_FALSE(services.account.signedIn());
    EXPECT_EQ(view.emailLabel()->text(), "Не вошёл");
    EXPECT_FALSE(view.signOutButton()->isEnabled());
}
