#include "Velmora/UI/TermEditor.hpp"

#include "Velmora/UI/AppStyle.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/GlossaryText.hpp"
#include "Velmora/UI/RussianPlural.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace velmora {

namespace {

QVBoxLayout* labelledField(const QString& label, QLineEdit* field, QWidget* parent) {
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(
        new StyledLabel(label, Design::font(Design::TextStyle::callout), Design::Level::secondary, parent));
    column->addWidget(field);
    return column;
}

}  // namespace

QString TermEditor::hitsText(std::int64_t hits) {
    return QStringLiteral("Замена сработала ") + QString::number(hits) + QLatin1Char(' ') +
           RussianPlural::noun(hits, QStringLiteral("раз"), QStringLiteral("раза"), QStringLiteral("раз")) +
           QLatin1Char('.');
}

TermEditor::TermEditor(const Term& term, QWidget* parent)
    : Sheet(QStringLiteral("Термин"), sheetWidth, padding, spacing, parent), original_(term) {
    QVBoxLayout* layout = contentLayout();

    auto* title = new StyledLabel(QStringLiteral("Термин"), Design::font(Design::TextStyle::title3, QFont::DemiBold),
                                  Design::Level::primary, this);
    layout->addWidget(title);

    spelling_ = new QLineEdit(QString::fromStdString(term.canonical), this);
    layout->addLayout(labelledField(QStringLiteral("Правильное написание"), spelling_, this));

    QStringList variants;
    for (const auto& variant : term.variants) variants << QString::fromStdString(variant);
    variants_ = new QLineEdit(variants.join(QStringLiteral(", ")), this);
    layout->addLayout(labelledField(QStringLiteral("Как слышится распознавателю, через запятую"), variants_, this));

    hint_ = new QCheckBox(QStringLiteral("Подсказывать это слово распознавателю"), this);
    hint_->setChecked(term.hint);
    layout->addWidget(hint_);

    if (term.hits >= 1) {
        hitsLine_ = new StyledLabel(hitsText(term.hits), Design::font(Design::TextStyle::callout),
                                    Design::Level::secondary, this);
        layout->addWidget(hitsLine_);
    }

    auto* buttons = new QHBoxLayout;
    delete_ = new QPushButton(QStringLiteral("Удалить"), this);
    AppStyle::markDestructive(delete_);
    cancel_ = new QPushButton(QStringLiteral("Отмена"), this);
    save_ = new BrandButton(QStringLiteral("Сохранить"), false, this);
    // Return saves, whichever control has the focus.
    delete_->setAutoDefault(false);
    cancel_->setAutoDefault(false);
    save_->setDefault(true);
    buttons->addWidget(delete_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(save_);
    layout->addLayout(buttons);

    // A blank spelling would make every heard variant vanish from the texts: it cannot be saved.
    const auto followSpelling = [this] {
        save_->setEnabled(!GlossaryText::trimmingBlanks(spelling_->text()).isEmpty());
    };
    connect(spelling_, &QLineEdit::textChanged, this, followSpelling);
    followSpelling();

    connect(save_, &QPushButton::clicked, this, [this] {
        if (!save_->isEnabled()) return;
        request([this] { Q_EMIT saveRequested(edited()); });
    });
    connect(delete_, &QPushButton::clicked, this, [this] { request([this] { Q_EMIT deleteRequested(original_); }); });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

template <typename Send>
void TermEditor::request(Send send) {
    refused_ = false;
    send();
    if (!refused_) accept();
}

void TermEditor::refuse(const QString& reason) {
    refused_ = true;
    if (error_ == nullptr) {
        error_ = new SymbolLabel("exclamationmark.triangle.fill", QString(), Design::font(Design::TextStyle::callout),
                                 Design::orange(), this);
        error_->setWordWrap(true);
        // Above the buttons, so that the reason stands next to what it refused.
        contentLayout()->insertWidget(contentLayout()->count() - 1, error_);
    }
    error_->setText(reason);
    error_->show();
    fitContent();
}

Term TermEditor::edited() const {
    Term term = original_;
    term.canonical = spelling_->text().toStdString();
    term.variants = GlossaryText::splitAtCommas(variants_->text(), true);
    term.hint = hint_->isChecked();
    return term;
}

}  // namespace velmora
