// Pictures of the screens in their main states, for review: build/screenshots/*.png.

#include "Velmora/Post/Glossary.hpp"
#include "Velmora/Post/GlossaryFile.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/BrandMark.hpp"
#include "Velmora/UI/BrandOrb.hpp"
#include "Velmora/UI/Card.hpp"
#include "Velmora/UI/EmptyState.hpp"
#include "Velmora/UI/GlossaryView.hpp"
#include "Velmora/UI/KeyCap.hpp"
#include "Velmora/UI/SectionHeader.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"
#include "Velmora/UI/Symbols.hpp"
#include "Velmora/UI/TermEditor.hpp"
#include "Velmora/UI/TermRow.hpp"

#include "QtApplication.hpp"
#include "Screenshot.hpp"

#include <gtest/gtest.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace velmora;
using velmora::test::containsColour;
using velmora::test::expectNothingCutOff;
using velmora::test::hasInk;
using velmora::test::ScreenshotTest;

namespace {

Term sampleTerm(std::string canonical, std::vector<std::string> variants, std::int64_t hits) {
    Term term;
    term.canonical = std::move(canonical);
    term.variants = std::move(variants);
    term.hits = hits;
    return term;
}

std::vector<Term> sampleGlossary() {
    return {
        sampleTerm("Velmora", {"велмора", "вельмора"}, 12),
        sampleTerm("GitHub", {"гитхаб", "гит хаб"}, 7),
        sampleTerm("Python", {"пайтон"}, 3),
        sampleTerm("JavaScript", {"джаваскрипт", "джава скрипт"}, 1),
        sampleTerm("Docker", {"докер"}, 0),
        sampleTerm("Kubernetes", {"кубернетес", "кубернетис", "кубер", "куб", "k8s", "кубик", "кубернет"}, 0),
        sampleTerm("API", {"апи", "эйпиай"}, 0),
        sampleTerm("follow-up", {"фоллоуап", "фэллоап"}, 0),
        sampleTerm("Сбер", {}, 0),
    };
}

class Screenshots : public ScreenshotTest {
protected:
    std::unique_ptr<Glossary> sampleStore() {
        test::writeFile(dir_ / "glossary.json", GlossaryFile::encode(sampleGlossary()));
        return std::make_unique<Glossary>(dir_ / "glossary.json");
    }

    test::TempDir dir_;
};

}  // namespace

TEST_F(Screenshots, GlossaryList) {
    auto glossary = sampleStore();
    GlossaryView view(*glossary);
    const QImage picture = take(view, "glossary-list");
    EXPECT_EQ(picture.size(), QSize(940, 660));
    EXPECT_EQ(view.rows().size(), 9u);
    expectNothingCutOff(view);
    // The cards' texts are drawn: the add card's header and the first row.
    const QWidget* header = view.addHeader();
    EXPECT_TRUE(hasInk(picture, QRect(header->mapTo(&view, QPoint(0, 0)), header->size())));
    TermRow* first = view.rows().front();
    EXPECT_EQ(first->spellingLabel()->text(), "Velmora");
}

TEST_F(Screenshots, GlossaryListWithASearch) {
    auto glossary = sampleStore();
    GlossaryView view(*glossary);
    test::typeText(view.searchField(), "ку");
    const QImage picture = take(view, "glossary-search");
    EXPECT_EQ(view.rows().size(), 1u);
    expectNothingCutOff(view);
    // The wrapped variants of the one row are drawn in full.
    TermRow* row = view.rows().front();
    EXPECT_TRUE(hasInk(picture, QRect(row->mapTo(&view, QPoint(0, 0)), row->size())));
}

TEST_F(Screenshots, GlossaryEditorOpen) {
    auto glossary = sampleStore();
    GlossaryView view(*glossary);
    view.resize(test::mainWindowSize);
    view.show();
    QCoreApplication::processEvents();
    TermRow* row = view.rows().at(1);
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(10, row->height() / 2));
    ASSERT_NE(view.editor(), nullptr);
    const QImage picture = take(view, "glossary-editor", view.editor());
    expectNothingCutOff(*view.editor());
    EXPECT_EQ(view.editor()->spellingField()->text(), "GitHub");
}

TEST_F(Screenshots, GlossaryEditorWhoseSaveFailed) {
    auto glossary = sampleStore();
    GlossaryView view(*glossary);
    view.resize(test::mainWindowSize);
    view.show();
    QCoreApplication::processEvents();
    // A folder in the file's place: the rename over it fails.
    std::filesystem::remove(dir_ / "glossary.json");
    std::filesystem::create_directory(dir_ / "glossary.json");
    TermRow* row = view.rows().at(1);
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(10, row->height() / 2));
    TermEditor* editor = view.editor();
    ASSERT_NE(editor, nullptr);
    editor->variantsField()->setText("гитхаб, гит хаб");
    QCoreApplication::processEvents();
    const QRect before = editor->geometry();
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    QCoreApplication::processEvents();
    ASSERT_EQ(view.editor(), editor);
    ASSERT_NE(editor->errorLine(), nullptr);
    // It grows about its centre, not down from its top.
    EXPECT_GT(editor->height(), before.height());
    EXPECT_NEAR(editor->geometry().center().y(), before.center().y(), 1);
    const QImage picture = take(view, "glossary-editor-not-saved", editor);
    expectNothingCutOff(*editor);
    // The sheet grows for the reason; its fields are not squeezed to make room.
    for (const QLineEdit* field : editor->findChildren<QLineEdit*>())
        EXPECT_GE(field->height(), field->sizeHint().height());
    EXPECT_EQ(editor->variantsField()->text(), "гитхаб, гит хаб");
    const QImage sheet = editor->grab().toImage();
    EXPECT_TRUE(containsColour(sheet, editor->errorLine()->geometry(), Design::orange(), 40));
}

TEST_F(Screenshots, StyleSampler) {
    QWidget sampler;
    sampler.setFont(Design::font(Design::TextStyle::body));
    auto* columns = new QHBoxLayout(&sampler);
    columns->setContentsMargins(24, 24, 24, 24);
    columns->setSpacing(22);

    auto* left = new QVBoxLayout;
    left->setSpacing(22);
    auto* buttons = new Card(22);
    buttons->contentLayout()->setSpacing(14);
    buttons->contentLayout()->addWidget(new SectionHeader("Кнопки", QString("Обычная, с символом, выключенная и "
                                                                            "широкая — высота всегда 36.")));
    auto* row = new QHBoxLayout;
    auto* record = new BrandButton("Записать встречу");
    record->setSymbol("person.2.wave.2.fill");
    record->setMinimumLabelWidth(180);
    row->addWidget(record);
    auto* off = new BrandButton("Добавить");
    off->setEnabled(false);
    row->addWidget(off);
    row->addStretch(1);
    buttons->contentLayout()->addLayout(row);
    buttons->contentLayout()->addWidget(new BrandButton("Продолжить", true));
    auto* keys = new QHBoxLayout;
    keys->addWidget(new KeyCap("fn", false, 44, 36, 13));
    keys->addWidget(new KeyCap("⌥", true, 44, 36, 16));
    keys->addWidget(new KeyCap("Пробел", false, 120, 36, 13));
    keys->addStretch(1);
    buttons->contentLayout()->addLayout(keys);
    auto* marks = new QHBoxLayout;
    marks->addWidget(new BrandMark(22));
    marks->addStretch(1);
    marks->addWidget(new BrandOrb(40, true));
    buttons->contentLayout()->addLayout(marks);
    left->addWidget(buttons);

    auto* empty = new Card(22);
    empty->contentLayout()->addWidget(new EmptyState("person.2.wave.2", "Запиши первую встречу",
                                                     "Расшифровка появится здесь: слышно и тебя, и собеседников. "
                                                     "Длинное пояснение переносится и остаётся по центру.",
                                                     new QPushButton("Как это работает")));
    empty->setMinimumHeight(250);
    left->addWidget(empty, 1);
    columns->addLayout(left, 3);

    auto* symbols = new Card(16);
    symbols->contentLayout()->addWidget(new SectionHeader("Символы"));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    int index = 0;
    for (const auto& entry : Symbols::table()) {
        grid->addWidget(new SymbolView(entry.name, 16, Design::Level::primary), index, 0);
        grid->addWidget(new StyledLabel(QString::fromUtf8(entry.name.data(), static_cast<qsizetype>(entry.name.size())),
                                        Design::font(Design::TextStyle::caption), Design::Level::secondary),
                        index, 1);
        ++index;
    }
    symbols->contentLayout()->addLayout(grid);
    symbols->contentLayout()->addStretch(1);
    columns->addWidget(symbols, 2);

    const QImage picture = take(sampler, "style-sampler");
    expectNothingCutOff(sampler);
    // The branded buttons are drawn in the brand gradient: blue dominates in their middle.
    const QColor middle = picture.pixelColor(record->mapTo(&sampler, QPoint(8, 18)));
    EXPECT_GT(middle.blue(), middle.red() + 40);
}
