// Qt's own texts are Russian like the rest of the interface: a text field's context menu and the
// standard dialog buttons.

#include "QtApplication.hpp"
#include "Screenshot.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

using velmora::test::inkPixels;

namespace {

// What the menu's items say, without their shortcut keys and mnemonic marks.
std::vector<std::string> itemTexts(const QMenu& menu) {
    std::vector<std::string> texts;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) continue;
        QString text = action->text().section(QLatin1Char('\t'), 0, 0);
        text.remove(QLatin1Char('&'));
        texts.push_back(text.toStdString());
    }
    return texts;
}

class QtTexts : public velmora::test::ScreenshotTest {};

}  // namespace

TEST_F(QtTexts, ATextFieldsContextMenuIsRussian) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(QStringLiteral("кубернетес"), &window);
    layout->addWidget(field);
    layout->addStretch(1);
    window.resize(420, 320);
    window.show();
    field->selectAll();

    std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
    const std::vector<std::string> texts = itemTexts(*menu);
    ASSERT_EQ(texts.size(), 7u);
    for (const std::string& text : texts) {
        const QString shown = QString::fromStdString(text);
        EXPECT_FALSE(shown.contains(QRegularExpression(QStringLiteral("[A-Za-z]")))) << text;
        EXPECT_TRUE(shown.contains(QRegularExpression(QStringLiteral("[а-яА-ЯёЁ]")))) << text;
    }

    // The picture: the menu as it opens over the field.
    const QPoint at = field->geometry().bottomLeft() + QPoint(20, -6);
    menu->popup(window.mapToGlobal(at));
    QCoreApplication::processEvents();
    QImage picture = take(window, "qt-text-field-menu", nullptr, window.size());
    const QImage drawnMenu = menu->grab().toImage();
    {
        QPainter painter(&picture);
        painter.drawImage(at, drawnMenu);
    }
    picture.save(QString::fromStdString((velmora::test::screenshotFolder() / "qt-text-field-menu.png").string()));
    EXPECT_GT(inkPixels(drawnMenu, drawnMenu.rect()), 500) << "the items are painted";
    menu->hide();
}

TEST(QtDialogTexts, StandardDialogButtonsAreRussian) {
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Close | QDialogButtonBox::Yes |
                             QDialogButtonBox::No);
    const auto shown = [&](QDialogButtonBox::StandardButton which) {
        return buttons.button(which)->text().remove(QLatin1Char('&'));
    };
    EXPECT_EQ(shown(QDialogButtonBox::Cancel), "Отмена");
    EXPECT_EQ(shown(QDialogButtonBox::Close), "Закрыть");
    EXPECT_EQ(shown(QDialogButtonBox::Yes), "Да");
    EXPECT_EQ(shown(QDialogButtonBox::No), "Нет");
}
