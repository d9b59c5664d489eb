#include "Velmora/UI/MeetingTitleSheet.hpp"

#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

MeetingTitleSheet::MeetingTitleSheet(QWidget* parent)
    : Sheet(QStringLiteral("Что за встреча?"), sheetWidth, padding, spacing, parent) {
    QVBoxLayout* layout = contentLayout();
    const QFont callout = Design::font(Design::TextStyle::callout);

    layout->addWidget(new StyledLabel(QStringLiteral("Что за встреча?"), Design::font(titlePixels, QFont::DemiBold),
                                      Design::Level::primary, this));
    auto* skip = new StyledLabel(QStringLiteral("Можно пропустить — тогда останется название по дате."), callout,
                                 Design::Level::secondary, this);
    skip->setWordWrap(true);
    layout->addWidget(skip);

    field_ = new QLineEdit(this);
    field_->setPlaceholderText(QStringLiteral("Например: созвон с фондом"));
    field_->setFixedWidth(fieldWidth);
    layout->addWidget(field_);

    auto* warn = new SymbolLabel("info.circle",
                                 QStringLiteral("Предупреди собеседников о записи. В наушниках расшифровка чище."),
                                 callout, Design::Level::secondary, this);
    warn->setWordWrap(true);
    layout->addWidget(warn);

    auto* buttons = new QHBoxLayout;
    cancel_ = new QPushButton(QStringLiteral("Отмена"), this);
    cancel_->setAutoDefault(false);
    // The prominent action: the branded button, which grows under the pointer.
    start_ = new BrandButton(QStringLiteral("Начать запись"), false, this);
    start_->setDefault(true);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(start_);
    layout->addLayout(buttons);

    // Escape rejects the dialog as well.
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(start_, &QPushButton::clicked, this, [this] {
        const QString title = field_->text();
        accept();
        Q_EMIT startRequested(title);
    });
}

}  // namespace velmora
