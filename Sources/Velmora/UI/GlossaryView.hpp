#pragma once

// The glossary screen: a card to add a term with the ways the recogniser mishears it, and the
// list of terms (most-used first) with a search, each opening its editor sheet. Every change
// goes straight to the glossary, which saves it; the screen keeps no copy of the terms and
// redraws whenever they change, whoever changed them. A change the glossary could not save is
// not made, and the screen says why.

#ifndef Q_MOC_RUN
#include "Velmora/Post/Term.hpp"
#endif

#include "Velmora/UI/CardColumn.hpp"

#include <QPointer>

#include <vector>

class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace velmora {

class Glossary;
class SearchBox;
class SectionHeader;
class SymbolLabel;
class TermEditor;
class TermRow;

class GlossaryView : public CardColumn {
    Q_OBJECT

public:
    explicit GlossaryView(Glossary& glossary, QWidget* parent = nullptr);
    /// Over the process's glossary.
    explicit GlossaryView(QWidget* parent = nullptr);

    /// The terms to list: by hits, most first; equal hits by spelling in code-point order of the
    /// composed form (capitals before small letters, Latin before Cyrillic), ties in stored
    /// order. A search text, as typed, keeps the terms whose spelling or a variant contains it
    /// without regard to case.
    static std::vector<Term> filtered(const std::vector<Term>& terms, const QString& search);

    QLineEdit* spellingField() const { return spelling_; }
    QLineEdit* variantsField() const { return variants_; }
    QPushButton* addButton() const { return add_; }
    QLineEdit* searchField() const;
    SectionHeader* addHeader() const { return addHeader_; }
    SectionHeader* listHeader() const { return listHeader_; }
    /// The rows on screen, top to bottom.
    std::vector<TermRow*> rows() const;
    /// The open editor sheet, or null.
    TermEditor* editor() const;
    /// "Не удалось сохранить словарь: …" while the glossary's last change could not be saved.
    SymbolLabel* errorLine() const { return error_; }

private:
    QWidget* makeAddCard();
    QWidget* makeListCard();
    void add();
    void showSaveError();
    void rebuildRows();
    void openEditor(const korbit::UUID& id);
    void save(const Term& edited);
    /// Keeps the open sheet open and says there why its request could not be saved.
    void refuseInEditor();

    Glossary& glossary_;
    QLineEdit* spelling_ = nullptr;
    QLineEdit* variants_ = nullptr;
    QPushButton* add_ = nullptr;
    SectionHeader* addHeader_ = nullptr;
    SectionHeader* listHeader_ = nullptr;
    SearchBox* search_ = nullptr;
    QWidget* list_ = nullptr;
    QVBoxLayout* listLayout_ = nullptr;
    SymbolLabel* error_ = nullptr;
    QPointer<TermEditor> editor_;
};

}  // namespace velmora
