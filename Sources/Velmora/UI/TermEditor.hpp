#pragma once

// The sheet that edits one glossary term: its spelling, its heard variants (typed with commas),
// its hint flag, and how often it fired. "Сохранить" (the default button, so Return) hands the
// edited copy on, "Удалить" asks for the term's removal, "Отмена" and Escape drop the edits.
// A save or removal the receiver refuses leaves the sheet open, with what was typed and the reason.

#ifndef Q_MOC_RUN
#include "Velmora/Post/Term.hpp"
#endif

#include "Velmora/UI/Sheet.hpp"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velmora {

class StyledLabel;
class SymbolLabel;

class TermEditor : public Sheet {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 520;
    static constexpr int padding = 32;
    static constexpr int spacing = 22;

    /// "Замена сработала N раз.", the noun in the number's form.
    static QString hitsText(std::int64_t hits);

    /// Edits a copy of the term, taken now and not refreshed while the sheet is open.
    explicit TermEditor(const Term& term, QWidget* parent = nullptr);

    /// The term as it was when the sheet opened.
    const Term& original() const { return original_; }
    /// The copy with the fields as they stand: variants split at commas, blanks trimmed, empty
    /// pieces dropped, duplicates kept.
    Term edited() const;

    QLineEdit* spellingField() const { return spelling_; }
    QLineEdit* variantsField() const { return variants_; }
    QCheckBox* hintToggle() const { return hint_; }
    /// Null when the term never fired.
    StyledLabel* hitsLine() const { return hitsLine_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* saveButton() const { return save_; }
    /// Null until a request was refused.
    SymbolLabel* errorLine() const { return error_; }

    /// Called by a receiver of saveRequested or deleteRequested that could not do it: the sheet
    /// stays open and says why.
    void refuse(const QString& reason);

Q_SIGNALS:
    void saveRequested(const velmora::Term& term);
    void deleteRequested(const velmora::Term& original);

private:
    Term original_;
    QLineEdit* spelling_;
    QLineEdit* variants_;
    QCheckBox* hint_;
    StyledLabel* hitsLine_ = nullptr;
    QPushButton* delete_;
    QPushButton* cancel_;
    QPushButton* save_;
    SymbolLabel* error_ = nullptr;
    // Set by refuse() while a request's signal is out.
    bool refused_ = false;

    /// Sends a request and closes the sheet unless a receiver refused it.
    template <typename Send>
    void request(Send send);
};

}  // namespace velmora
