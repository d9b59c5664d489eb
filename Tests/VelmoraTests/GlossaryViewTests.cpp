#include "Velmora/UI/GlossaryView.hpp"

#include "Velmora/Post/Glossary.hpp"
#include "Velmora/Post/GlossaryFile.hpp"
#include "Velmora/UI/SectionHeader.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"
#include "Velmora/UI/TermEditor.hpp"
#include "Velmora/UI/TermRow.hpp"

#include "QtApplication.hpp"
#include "Screenshot.hpp"
#include "Support/TestEnvironment.hpp"

#include <gtest/gtest.h>

#include <QScrollBar>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <memory>

using namespace velmora;
using velmora::test::ScopedEnv;
using velmora::test::TempDir;

namespace {

Term makeTerm(std::string canonical, std::vector<std::string> variants = {}, std::int64_t hits = 0) {
    Term term;
    term.canonical = std::move(canonical);
    term.variants = std::move(variants);
    term.hits = hits;
    term.addedAt = std::chrono::sys_seconds(std::chrono::seconds(1733380200));
    return term;
}

// A glossary over a file of its own in a temporary data folder, and the screen over it, shown.
class GlossaryViewTest : public ::testing::Test {
protected:
    void open(const std::vector<Term>& terms) {
        test::writeFile(dir_ / "glossary.json", GlossaryFile::encode(terms));
        glossary_ = std::make_unique<Glossary>(dir_ / "glossary.json");
        view_ = std::make_unique<GlossaryView>(*glossary_);
        view_->resize(940, 660);
        view_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
    }

    std::vector<std::string> shownSpellings() {
        QCoreApplication::processEvents();
        std::vector<std::string> spellings;
        for (TermRow* row : view_->rows()) spellings.push_back(row->spellingLabel()->text().toStdString());
        return spellings;
    }

    TermRow* rowOf(const std::string& spelling) {
        for (TermRow* row : view_->rows())
            if (row->spellingLabel()->text().toStdString() == spelling) return row;
        return nullptr;
    }

    const Term* stored(const std::string& spelling) {
        for (const Term& term : glossary_->terms())
            if (term.canonical == spelling) return &term;
        return nullptr;
    }

    // Opens the editor of a term by clicking its row.
    TermEditor* edit(const std::string& spelling) {
        TermRow* row = rowOf(spelling);
        EXPECT_NE(row, nullptr) << spelling;
        if (row == nullptr) return nullptr;
        view_->ensureWidgetVisible(row);
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(20, row->height() / 2));
        EXPECT_NE(view_->editor(), nullptr);
        return view_->editor();
    }

    void settle() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void typeSearch(const QString& text) {
        view_->searchField()->clear();
        test::typeText(view_->searchField(), text);
    }

    // Reads the glossary back from its file, as the next start of the program would.
    std::vector<Term> reloaded() { return Glossary(dir_ / "glossary.json").terms(); }

    ScopedEnv reduced_{"VELMORA_REDUCE_MOTION", "1"};
    TempDir dir_;
    std::unique_ptr<Glossary> glossary_;
    std::unique_ptr<GlossaryView> view_;
};

}  // namespace

TEST_F(GlossaryViewTest, AnEmptyGlossaryShowsBothCardsAndOnlyTheListHeader) {
    open({});
    EXPECT_TRUE(view_->rows().empty());
    EXPECT_EQ(view_->addHeader()->titleLabel()->text(), "ДОБАВИТЬ ТЕРМИН");
    EXPECT_EQ(view_->addHeader()->subtitleLabel()->text(),
              "Слева — как должно быть написано. Справа — как это слышится распознавателю, через запятую.");
    EXPECT_EQ(view_->listHeader()->titleLabel()->text(), "ТЕРМИНЫ");
    EXPECT_EQ(view_->listHeader()->subtitleLabel()->text(), "сверху те, что срабатывали чаще");
    EXPECT_EQ(view_->spellingField()->placeholderText(), "follow-up");
    EXPECT_EQ(view_->spellingField()->width(), 200);
    EXPECT_EQ(view_->variantsField()->placeholderText(), "фоллоуап, фэллоап");
    EXPECT_EQ(view_->searchField()->placeholderText(), "Поиск");
    EXPECT_EQ(view_->searchField()->width(), 150);
    EXPECT_EQ(view_->searchField()->parentWidget()->height(), 26);
    EXPECT_EQ(view_->addButton()->text(), "Добавить");
    EXPECT_FALSE(view_->addButton()->isEnabled());
    // Nothing scrolls, so no scroll bar shows.
    EXPECT_FALSE(view_->verticalScrollBar()->isVisible());
    // The add card's fields lie within the column, which is at most 760 wide.
    EXPECT_LE(view_->addButton()->mapTo(view_->widget(), QPoint(view_->addButton()->width(), 0)).x(), 32 + 760);
}

TEST_F(GlossaryViewTest, RowsGoByHitsThenBySpellingInCodePointOrderOfTheComposedForm) {
    open({makeTerm("яблоко"), makeTerm("beta"), makeTerm("Beta"), makeTerm("alpha", {}, 2), makeTerm("Zulu"),
          makeTerm("e\u0301clair"), makeTerm("fig"), makeTerm("omega", {}, 5)});
    // Capitals before small letters, Latin before Cyrillic; "éclair" (typed decomposed) goes by
    // its composed letter, after every plain Latin one.
    EXPECT_EQ(shownSpellings(),
              (std::vector<std::string>{"omega", "alpha", "Beta", "Zulu", "beta", "fig", "e\u0301clair", "яблоко"}));
}

TEST_F(GlossaryViewTest, ARowShowsTheVariantsAndAHitBadgeOnlyWhenThereAreAny) {
    open({makeTerm("Docker", {"докер", "доккер"}, 1), makeTerm("Kafka")});
    TermRow* docker = rowOf("Docker");
    ASSERT_NE(docker, nullptr);
    ASSERT_NE(docker->variantsLabel(), nullptr);
    EXPECT_EQ(docker->variantsLabel()->text(), "докер · доккер");
    ASSERT_NE(docker->hitBadge(), nullptr);
    EXPECT_EQ(docker->hitBadge()->text(), "1");
    EXPECT_EQ(docker->hitBadge()->toolTip(), "Столько раз замена сработала");
    EXPECT_EQ(docker->spellingLabel()->font().pixelSize(), 13);
    EXPECT_EQ(docker->variantsLabel()->font().pixelSize(), 12);
    // The variants are drawn in the secondary level, also inside the row's button.
    const QLabel* variants = docker->variantsLabel();
    EXPECT_NEAR(variants->palette().color(variants->foregroundRole()).alphaF(), 0.5, 0.01);

    TermRow* kafka = rowOf("Kafka");
    ASSERT_NE(kafka, nullptr);
    EXPECT_EQ(kafka->variantsLabel(), nullptr);
    EXPECT_EQ(kafka->hitBadge(), nullptr);
}

TEST_F(GlossaryViewTest, TheSearchMatchesSpellingsAndVariantsWithoutRegardToCaseAndAsTyped) {
    open({makeTerm("docker", {"докер"}), makeTerm("GitHub", {"гит хаб"}), makeTerm("Python", {"пайтон"})});
    typeSearch("DOCK");
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"docker"});
    typeSearch("ПАЙ");
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"Python"});
    // Blanks are not trimmed: only terms that hold a blank are found.
    typeSearch(" ");
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"GitHub"});
    typeSearch("kotlin");
    EXPECT_TRUE(shownSpellings().empty());
    typeSearch("");
    EXPECT_EQ(shownSpellings().size(), 3u);
}

TEST_F(GlossaryViewTest, AddingSplitsVariantsAtCommasOnlyAndEmptiesBothFields) {
    open({makeTerm("Docker", {"докер"})});
    test::typeText(view_->spellingField(), "   ");
    EXPECT_FALSE(view_->addButton()->isEnabled());
    view_->spellingField()->clear();

    test::typeText(view_->spellingField(), " follow-up ");
    test::typeText(view_->variantsField(), "фоллоуап,, фэллоап,;x;y,");
    EXPECT_TRUE(view_->addButton()->isEnabled());
    // Return in a field adds nothing.
    QTest::keyClick(view_->variantsField(), Qt::Key_Return);
    QTest::keyClick(view_->spellingField(), Qt::Key_Return);
    EXPECT_EQ(glossary_->terms().size(), 1u);

    QTest::mouseClick(view_->addButton(), Qt::LeftButton);
    ASSERT_NE(stored("follow-up"), nullptr);  // the store trims
    EXPECT_EQ(stored("follow-up")->variants, (std::vector<std::string>{"фоллоуап", "фэллоап", ";x;y"}));
    EXPECT_TRUE(stored("follow-up")->hint);
    EXPECT_EQ(stored("follow-up")->hits, 0);
    EXPECT_TRUE(view_->spellingField()->text().isEmpty());
    EXPECT_TRUE(view_->variantsField()->text().isEmpty());
    EXPECT_FALSE(view_->addButton()->isEnabled());
    EXPECT_EQ(shownSpellings(), (std::vector<std::string>{"Docker", "follow-up"}));

    // A spelling that differs only in case joins the existing term's variants: no new row.
    test::typeText(view_->spellingField(), "DOCKER");
    test::typeText(view_->variantsField(), "ДОКЕР, доккер");
    QTest::mouseClick(view_->addButton(), Qt::LeftButton);
    EXPECT_EQ(shownSpellings(), (std::vector<std::string>{"Docker", "follow-up"}));
    EXPECT_EQ(stored("Docker")->variants, (std::vector<std::string>{"докер", "доккер"}));
    EXPECT_TRUE(view_->spellingField()->text().isEmpty());
    EXPECT_TRUE(view_->variantsField()->text().isEmpty());
    // Every change is in the file at once.
    EXPECT_EQ(reloaded(), glossary_->terms());
}

TEST_F(GlossaryViewTest, TheEditorShowsTheTermAndSavesItsFieldsOnReturn) {
    open({makeTerm("Kubernetes", {"кубернетес", "кубернетис"}, 1), makeTerm("Kafka")});
    TermEditor* editor = edit("Kubernetes");
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->width(), 520);
    EXPECT_EQ(editor->spellingField()->text(), "Kubernetes");
    EXPECT_EQ(editor->variantsField()->text(), "кубернетес, кубернетис");
    EXPECT_EQ(editor->hintToggle()->text(), "Подсказывать это слово распознавателю");
    EXPECT_TRUE(editor->hintToggle()->isChecked());
    ASSERT_NE(editor->hitsLine(), nullptr);
    EXPECT_EQ(editor->hitsLine()->text(), "Замена сработала 1 раз.");
    EXPECT_EQ(editor->deleteButton()->text(), "Удалить");
    EXPECT_EQ(editor->cancelButton()->text(), "Отмена");
    EXPECT_EQ(editor->saveButton()->text(), "Сохранить");
    EXPECT_TRUE(editor->saveButton()->isDefault());

    editor->spellingField()->selectAll();
    test::typeText(editor->spellingField(), "K8s");
    editor->variantsField()->selectAll();
    test::typeText(editor->variantsField(), " кубер ,\tКУБЕР,, кубер ");
    QTest::mouseClick(editor->hintToggle(), Qt::LeftButton);
    QTest::keyClick(editor->spellingField(), Qt::Key_Return);
    settle();

    EXPECT_EQ(view_->editor(), nullptr);
    ASSERT_NE(stored("K8s"), nullptr);
    // Blanks trimmed, empty pieces dropped, duplicates (also in another case) kept in order.
    EXPECT_EQ(stored("K8s")->variants, (std::vector<std::string>{"кубер", "КУБЕР", "кубер"}));
    EXPECT_FALSE(stored("K8s")->hint);
    EXPECT_EQ(stored("K8s")->hits, 1);
    EXPECT_EQ(shownSpellings(), (std::vector<std::string>{"K8s", "Kafka"}));
    EXPECT_EQ(reloaded(), glossary_->terms());

    // A term that never fired has no hits line; commas and blanks alone save no variants.
    editor = edit("Kafka");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->hitsLine(), nullptr);
    test::typeText(editor->variantsField(), " , ,, ");
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(stored("Kafka")->variants.empty());
}

TEST_F(GlossaryViewTest, CancelAndEscapeDropTheEditsAndDeleteRemovesAtOnce) {
    open({makeTerm("Docker", {"докер"}), makeTerm("Kafka")});
    const std::vector<Term> before = glossary_->terms();

    TermEditor* editor = edit("Docker");
    ASSERT_NE(editor, nullptr);
    test::typeText(editor->spellingField(), "ized");
    QTest::mouseClick(editor->cancelButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view_->editor(), nullptr);
    EXPECT_EQ(glossary_->terms(), before);

    editor = edit("Docker");
    ASSERT_NE(editor, nullptr);
    test::typeText(editor->variantsField(), ", доккер");
    QTest::keyClick(editor, Qt::Key_Escape);
    settle();
    EXPECT_EQ(view_->editor(), nullptr);
    EXPECT_EQ(glossary_->terms(), before);

    editor = edit("Docker");
    ASSERT_NE(editor, nullptr);
    QTest::mouseClick(editor->deleteButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view_->editor(), nullptr);
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"Kafka"});
    EXPECT_EQ(reloaded().size(), 1u);
}

TEST_F(GlossaryViewTest, ABlankSpellingCannotBeSaved) {
    open({makeTerm("Docker", {"докер"})});
    TermEditor* editor = edit("Docker");
    ASSERT_NE(editor, nullptr);
    editor->spellingField()->selectAll();
    QTest::keyClick(editor->spellingField(), Qt::Key_Backspace);
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    QTest::keyClick(editor->spellingField(), Qt::Key_Return);
    editor->spellingField()->insert(" \t ");  // as pasted: Tab moves the focus
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    QTest::keyClick(editor->spellingField(), Qt::Key_Return);
    settle();
    // Nothing saved, the sheet still open for a spelling.
    EXPECT_EQ(view_->editor(), editor);
    EXPECT_EQ(stored("Docker")->variants, std::vector<std::string>{"докер"});
    EXPECT_EQ(glossary_->applyReplacements("запусти докер"), "запусти Docker");

    test::typeText(editor->spellingField(), "Podman");
    EXPECT_TRUE(editor->saveButton()->isEnabled());
    QTest::keyClick(editor->spellingField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(view_->editor(), nullptr);
    // The spelling is saved as typed, blanks and all.
    EXPECT_NE(stored(" \t Podman"), nullptr);
}

TEST_F(GlossaryViewTest, HitsCountedWhileTheEditorIsOpenSurviveItsSave) {
    open({makeTerm("Docker", {"докер"}, 1), makeTerm("Python", {"пайтон"}, 2)});
    EXPECT_EQ(shownSpellings(), (std::vector<std::string>{"Python", "Docker"}));
    const auto added = stored("Docker")->addedAt;

    TermEditor* editor = edit("Docker");
    ASSERT_NE(editor, nullptr);
    // A dictation counts two hits meanwhile; the list behind the sheet moves the term up.
    glossary_->applyReplacements("докер и докер");
    EXPECT_EQ(stored("Docker")->hits, 3);
    EXPECT_EQ(shownSpellings(), (std::vector<std::string>{"Docker", "Python"}));
    // The sheet keeps the count it opened with.
    EXPECT_EQ(editor->hitsLine()->text(), "Замена сработала 1 раз.");

    editor->variantsField()->selectAll();
    test::typeText(editor->variantsField(), "докер, доккер");
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(stored("Docker")->hits, 3);
    EXPECT_EQ(stored("Docker")->addedAt, added);
    EXPECT_EQ(stored("Docker")->variants.size(), 2u);
}

TEST_F(GlossaryViewTest, SavingATermRemovedMeanwhileChangesNothingAndClosesTheSheet) {
    open({makeTerm("Docker"), makeTerm("Kafka")});
    TermEditor* editor = edit("Docker");
    ASSERT_NE(editor, nullptr);
    glossary_->remove(*stored("Docker"));
    test::typeText(editor->spellingField(), "2");
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view_->editor(), nullptr);
    ASSERT_EQ(glossary_->terms().size(), 1u);
    EXPECT_EQ(glossary_->terms()[0].canonical, "Kafka");
}

// A change the glossary cannot save is not shown as made: the list keeps what the file holds and
// the screen says why, in the warning colour, until a change is saved again.
TEST_F(GlossaryViewTest, AChangeThatCannotBeSavedShowsWhyAndTheListKeepsTheFile) {
    open({makeTerm("Docker", {"докер"})});
    SymbolLabel* error = view_->errorLine();
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(error->isVisible());
    std::filesystem::remove(dir_ / "glossary.json");
    std::filesystem::create_directory(dir_ / "glossary.json");  // the rename over it fails

    test::typeText(view_->spellingField(), "GitHub");
    test::typeText(view_->variantsField(), "гитхаб");
    QTest::mouseClick(view_->addButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"Docker"});
    // What was typed stays, to try again.
    EXPECT_EQ(view_->spellingField()->text(), "GitHub");
    EXPECT_EQ(view_->variantsField()->text(), "гитхаб");
    ASSERT_TRUE(glossary_->saveError());
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text().toStdString(), "Не удалось сохранить словарь: " + *glossary_->saveError());
    // Painted: the line stands in the warning colour.
    const QImage picture = view_->grab().toImage();
    const QRect place(error->mapTo(view_.get(), QPoint(0, 0)), error->size());
    EXPECT_TRUE(test::containsColour(picture, place, Design::orange(), 40));

    // An edit that cannot be saved keeps its sheet open with what was typed, and says why there;
    // the list keeps the term as the file has it.
    TermEditor* editor = edit("Docker");
    ASSERT_NE(editor, nullptr);
    test::typeText(editor->spellingField(), " CE");
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    settle();
    ASSERT_EQ(view_->editor(), editor);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->spellingField()->text(), "Docker CE");
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"Docker"});
    ASSERT_NE(editor->errorLine(), nullptr);
    EXPECT_EQ(editor->errorLine()->text().toStdString(), "Не удалось сохранить словарь: " + *glossary_->saveError());
    const QImage sheet = editor->grab().toImage();
    EXPECT_TRUE(test::containsColour(sheet, editor->errorLine()->geometry(), Design::orange(), 40));
    // So does a removal.
    QTest::mouseClick(editor->deleteButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view_->editor(), editor);
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"Docker"});
    EXPECT_TRUE(error->isVisible());

    // Once the file can be written again, the same sheet saves what was typed and closes.
    std::filesystem::remove(dir_ / "glossary.json");
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view_->editor(), nullptr);
    EXPECT_EQ(shownSpellings(), std::vector<std::string>{"Docker CE"});
    EXPECT_FALSE(error->isVisible());

    QTest::mouseClick(view_->addButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(shownSpellings(), (std::vector<std::string>{"Docker CE", "GitHub"}));
    EXPECT_TRUE(view_->spellingField()->text().isEmpty());
    EXPECT_EQ(reloaded(), glossary_->terms());
}

TEST(TermEditorText, TheHitsLineTakesTheNumbersForm) {
    EXPECT_EQ(velmora::TermEditor::hitsText(1), "Замена сработала 1 раз.");
    EXPECT_EQ(velmora::TermEditor::hitsText(2), "Замена сработала 2 раза.");
    EXPECT_EQ(velmora::TermEditor::hitsText(5), "Замена сработала 5 раз.");
    EXPECT_EQ(velmora::TermEditor::hitsText(12), "Замена сработала 12 раз.");
    EXPECT_EQ(velmora::TermEditor::hitsText(22), "Замена сработала 22 раза.");
}
