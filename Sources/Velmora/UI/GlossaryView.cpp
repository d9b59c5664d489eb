#include "Velmora/UI/GlossaryView.hpp"

#include "Velmora/Post/Glossary.hpp"
#include "Velmora/Post/TextBasics.hpp"
#include "Velmora/UI/Card.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Divider.hpp"
#include "Velmora/UI/GlossaryText.hpp"
#include "Velmora/UI/SearchBox.hpp"
#include "Velmora/UI/SectionHeader.hpp"
#include "Velmora/UI/SymbolLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"
#include "Velmora/UI/TermEditor.hpp"
#include "Velmora/UI/TermRow.hpp"

#include "Platform/Text/Unicode.hpp"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

GlossaryView::GlossaryView(QWidget* parent) : GlossaryView(Glossary::shared(), parent) {}

GlossaryView::GlossaryView(Glossary& glossary, QWidget* parent) : CardColumn(parent), glossary_(glossary) {
    addCard(makeAddCard());
    addCard(makeListCard());

    connect(&glossary_, &Glossary::termsChanged, this, &GlossaryView::rebuildRows);
    connect(&glossary_, &Glossary::saveErrorChanged, this, &GlossaryView::showSaveError);
    rebuildRows();
    showSaveError();
}

QWidget* GlossaryView::makeAddCard() {
    auto* card = new Card(cardPadding);
    QVBoxLayout* layout = card->contentLayout();
    layout->setSpacing(cardContentSpacing);
    addHeader_ = new SectionHeader(QStringLiteral("Добавить термин"),
                                   QStringLiteral("Слева — как должно быть написано. Справа — как это слышится "
                                                  "распознавателю, через запятую."),
                                   card);
    layout->addWidget(addHeader_);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    spelling_ = new QLineEdit(card);
    spelling_->setPlaceholderText(QStringLiteral("follow-up"));
    spelling_->setFixedWidth(200);
    row->addWidget(spelling_, 0, Qt::AlignVCenter);
    row->addWidget(new SymbolView("arrow.left", 13, Design::Level::tertiary, card), 0, Qt::AlignVCenter);
    variants_ = new QLineEdit(card);
    variants_->setPlaceholderText(QStringLiteral("фоллоуап, фэллоап"));
    row->addWidget(variants_, 1, Qt::AlignVCenter);
    add_ = new QPushButton(QStringLiteral("Добавить"), card);
    // Return in the fields adds nothing.
    add_->setAutoDefault(false);
    row->addWidget(add_, 0, Qt::AlignVCenter);
    layout->addLayout(row);

    const auto followSpelling = [this] {
        add_->setEnabled(!GlossaryText::trimmingBlanks(spelling_->text()).isEmpty());
    };
    connect(spelling_, &QLineEdit::textChanged, this, followSpelling);
    followSpelling();
    connect(add_, &QPushButton::clicked, this, &GlossaryView::add);
    return card;
}

QWidget* GlossaryView::makeListCard() {
    auto* card = new Card(cardPadding);
    QVBoxLayout* layout = card->contentLayout();
    layout->setSpacing(cardContentSpacing);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    listHeader_ = new SectionHeader(QStringLiteral("Термины"), QStringLiteral("сверху те, что срабатывали чаще"), card);
    header->addWidget(listHeader_, 1, Qt::AlignVCenter);
    search_ = new SearchBox(QStringLiteral("Поиск"), 26, 150, card);
    header->addWidget(search_, 0, Qt::AlignVCenter);
    layout->addLayout(header);

    // The list shows what the file holds; a change that could not be saved says so here.
    error_ = new SymbolLabel("exclamationmark.triangle.fill", QString(), Design::font(Design::TextStyle::callout),
                             Design::orange(), card);
    error_->setWordWrap(true);
    error_->hide();
    layout->addWidget(error_);

    list_ = new QWidget(card);
    listLayout_ = new QVBoxLayout(list_);
    listLayout_->setContentsMargins(0, 0, 0, 0);
    listLayout_->setSpacing(cardContentSpacing);
    layout->addWidget(list_);

    connect(search_->field(), &QLineEdit::textChanged, this, &GlossaryView::rebuildRows);
    return card;
}

TermEditor* GlossaryView::editor() const {
    return editor_;
}

QLineEdit* GlossaryView::searchField() const {
    return search_->field();
}

std::vector<Term> GlossaryView::filtered(const std::vector<Term>& terms, const QString& search) {
    struct Keyed {
        const Term* term;
        std::string spelling;  // composed; UTF-8 bytes compare in code-point order
    };
    std::vector<Keyed> keyed;
    keyed.reserve(terms.size());
    for (const Term& term : terms)
        keyed.push_back({&term, platform::text::normalize(term.canonical, platform::text::NormalizationForm::NFC)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.term->hits != b.term->hits) return a.term->hits > b.term->hits;
        return a.spelling < b.spelling;
    });

    const std::string needle = search.isEmpty() ? std::string() : caseInsensitiveKey(search.toStdString());
    const auto contains = [&](const std::string& text) {
        return caseInsensitiveKey(text).find(needle) != std::string::npos;
    };
    std::vector<Term> result;
    for (const Keyed& entry : keyed) {
        const Term& term = *entry.term;
        if (search.isEmpty() || contains(term.canonical) ||
            std::any_of(term.variants.begin(), term.variants.end(), contains))
            result.push_back(term);
    }
    return result;
}

std::vector<TermRow*> GlossaryView::rows() const {
    std::vector<TermRow*> result;
    for (int i = 0; i < listLayout_->count(); ++i)
        if (auto* row = qobject_cast<TermRow*>(listLayout_->itemAt(i)->widget())) result.push_back(row);
    return result;
}

void GlossaryView::rebuildRows() {
    while (QLayoutItem* item = listLayout_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            // A row may be delivering the click that led here.
            widget->deleteLater();
        }
        delete item;
    }
    const std::vector<Term> shown = filtered(glossary_.terms(), search_->field()->text());
    for (const Term& term : shown) {
        auto* row = new TermRow(term, list_);
        const korbit::UUID id = term.id;
        connect(row, &QAbstractButton::clicked, this, [this, id] { openEditor(id); });
        listLayout_->addWidget(row);
        listLayout_->addWidget(new Divider(list_));
    }
    // With nothing to list the card holds only its header row.
    list_->setVisible(!shown.empty());
}

void GlossaryView::add() {
    // What could not be saved stays typed, to try again.
    if (!glossary_.add(spelling_->text().toStdString(), GlossaryText::splitAtCommas(variants_->text(), false))) return;
    spelling_->clear();
    variants_->clear();
}

void GlossaryView::showSaveError() {
    const std::optional<std::string>& error = glossary_.saveError();
    error_->setVisible(error.has_value());
    if (!error) return;
    error_->setText(QStringLiteral("Не удалось сохранить словарь: ") + QString::fromStdString(*error));
    ensureWidgetVisible(error_);
}

void GlossaryView::openEditor(const korbit::UUID& id) {
    const auto& terms = glossary_.terms();
    const auto term = std::find_if(terms.begin(), terms.end(), [&](const Term& t) { return t.id == id; });
    if (term == terms.end() || editor_ != nullptr) return;
    editor_ = new TermEditor(*term, this);
    connect(editor_, &TermEditor::saveRequested, this, &GlossaryView::save);
    connect(editor_, &TermEditor::deleteRequested, this, [this](const Term& original) {
        if (!glossary_.remove(original)) refuseInEditor();
    });
    // However the sheet goes away, it is gone: nothing is saved unless asked.
    connect(editor_, &QDialog::finished, this, [this] {
        if (editor_ != nullptr) editor_->deleteLater();
        editor_ = nullptr;
    });
    editor_->open();
}

void GlossaryView::save(const Term& edited) {
    // The sheet edits the spelling, variants and hint; hits counted and the date added while it
    // was open are the store's, never the copy's.
    Term term = edited;
    const auto& terms = glossary_.terms();
    const auto stored = std::find_if(terms.begin(), terms.end(), [&](const Term& t) { return t.id == edited.id; });
    if (stored != terms.end()) {
        term.hits = stored->hits;
        term.addedAt = stored->addedAt;
    }
    // What was typed stays in the sheet, to try again.
    if (!glossary_.update(term)) refuseInEditor();
}

void GlossaryView::refuseInEditor() {
    if (editor_ == nullptr) return;
    editor_->refuse(QStringLiteral("Не удалось сохранить словарь: ") +
                    QString::fromStdString(glossary_.saveError().value_or(std::string())));
}

}  // namespace velmora
