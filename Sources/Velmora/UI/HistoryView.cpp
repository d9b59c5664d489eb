#include "Velmora/UI/HistoryView.hpp"

#include "Velmora/Insert/TextInserter.hpp"
#include "Velmora/Post/TextBasics.hpp"
#include "Velmora/Store/HistoryStore.hpp"
#include "Velmora/UI/AppStyle.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/EmptyState.hpp"
#include "Velmora/UI/HistoryCard.hpp"
#include "Velmora/UI/RussianPlural.hpp"
#include "Velmora/UI/SearchBox.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/Symbols.hpp"
#include "Velmora/UI/WindowDimmer.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

std::vector<Dictation> HistoryView::filtered(const std::vector<Dictation>& items, const QString& search) {
    std::vector<Dictation> sorted = items;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Dictation& a, const Dictation& b) { return a.date > b.date; });
    if (search.isEmpty()) return sorted;
    const std::string needle = caseInsensitiveKey(search.toStdString());
    std::vector<Dictation> result;
    for (Dictation& dictation : sorted)
        if (caseInsensitiveKey(dictation.text).find(needle) != std::string::npos)
            result.push_back(std::move(dictation));
    return result;
}

QString HistoryView::clearAllTitle(std::size_t count) {
    return QStringLiteral("Удалить ") + QString::number(count) + QLatin1Char(' ') +
           RussianPlural::noun(static_cast<std::int64_t>(count), QStringLiteral("запись"), QStringLiteral("записи"),
                               QStringLiteral("записей")) +
           QLatin1Char('?');
}

HistoryView::HistoryView(QWidget* parent) : HistoryView(HistoryStore::shared(), parent) {}

HistoryView::HistoryView(HistoryStore& history, QWidget* parent) : QWidget(parent), history_(history) {
    setFont(Design::font(Design::TextStyle::body));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    searchBar_ = makeSearchBar();
    column->addWidget(searchBar_);

    howItWorks_ = new QPushButton(QStringLiteral("Как это работает"));
    howItWorks_->setAutoDefault(false);
    connect(howItWorks_, &QPushButton::clicked, this, &HistoryView::settingsRequested);
    empty_ = new EmptyState("waveform", QStringLiteral("Здесь появятся диктовки"),
                            QStringLiteral("Зажми клавишу диктовки, скажи что-нибудь и отпусти — текст встанет туда, "
                                           "где стоит курсор."),
                            howItWorks_, this);
    column->addWidget(empty_, 1);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    auto* outer = new QVBoxLayout(content);
    outer->setContentsMargins(horizontalPadding, 0, horizontalPadding, horizontalPadding);
    outer->setSpacing(0);
    auto* cards = new QWidget(content);
    cardsLayout_ = new QVBoxLayout(cards);
    cardsLayout_->setContentsMargins(0, 0, 0, 0);
    cardsLayout_->setSpacing(cardSpacing);
    outer->addWidget(cards);
    outer->addStretch(1);
    scroll_->setWidget(content);
    // The scroll area draws the window's colour, like the rest of the content column.
    scroll_->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    column->addWidget(scroll_, 1);

    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, this, &HistoryView::maybeBuildMore);
    connect(scroll_->verticalScrollBar(), &QScrollBar::rangeChanged, this, &HistoryView::maybeBuildMore);
    connect(&history_, &HistoryStore::itemsChanged, this, &HistoryView::rebuild);
    showReadError();
    rebuild();
}

void HistoryView::showReadError() {
    // An empty list must not pass for an empty history when the file did not open.
    const auto& error = history_.readError();
    if (!error) return;
    empty_->titleLabel()->setText(QStringLiteral("Историю не удалось прочитать"));
    // Where no file stands (a named pipe), new dictations live only until the program ends.
    const QString after = history_.appendsToFile()
                              ? QStringLiteral("Он останется как есть, новые диктовки допишутся в конец.")
                              : QStringLiteral("Он останется как есть, новые диктовки сохранятся только до выхода.");
    empty_->detailLabel()->setText(QStringLiteral("Файл ") + QString::fromStdString(history_.file().string()) +
                                   QStringLiteral(" не открылся (") + QString::fromStdString(*error) +
                                   QStringLiteral("). ") + after);
}

QWidget* HistoryView::makeSearchBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(horizontalPadding, searchBarVerticalPadding, horizontalPadding, searchBarVerticalPadding);
    row->setSpacing(searchBarSpacing);

    search_ = new SearchBox(QStringLiteral("Поиск по диктовкам"), searchBoxHeight, searchFieldWidth, bar);
    clearSearch_ = new QToolButton(search_);
    clearSearch_->setAutoRaise(true);
    clearSearch_->setIcon(Symbols::pixmap("xmark.circle.fill", 13,
                                          Design::foreground(palette(), Design::Level::tertiary), devicePixelRatioF()));
    clearSearch_->setIconSize(QSize(13, 13));
    clearSearch_->setFixedSize(18, 18);
    clearSearch_->setCursor(Qt::ArrowCursor);
    clearSearch_->setAccessibleName(QStringLiteral("Очистить поиск"));
    clearSearch_->hide();
    search_->layout()->addWidget(clearSearch_);
    row->addWidget(search_, 0, Qt::AlignVCenter);
    connect(clearSearch_, &QToolButton::clicked, search_->field(), &QLineEdit::clear);
    connect(search_->field(), &QLineEdit::textChanged, this, [this](const QString& text) {
        clearSearch_->setVisible(!text.isEmpty());
        rebuild();
    });

    row->addStretch(1);
    count_ = new StyledLabel(QString(), Design::font(12), Design::Level::tertiary, bar);
    row->addWidget(count_, 0, Qt::AlignVCenter);

    menu_ = new QToolButton(bar);
    menu_->setAutoRaise(true);
    menu_->setPopupMode(QToolButton::InstantPopup);
    menu_->setIcon(
        Symbols::pixmap("ellipsis", 14, Design::foreground(palette(), Design::Level::secondary), devicePixelRatioF()));
    menu_->setIconSize(QSize(14, 14));
    menu_->setFixedWidth(menuWidth);
    menu_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    menu_->setAccessibleName(QStringLiteral("Ещё"));
    auto* menu = new QMenu(menu_);
    clearAll_ = menu->addAction(QStringLiteral("Удалить всю историю…"));
    connect(clearAll_, &QAction::triggered, this, &HistoryView::confirmClearAll);
    menu_->setMenu(menu);
    row->addWidget(menu_, 0, Qt::AlignVCenter);
    return bar;
}

QLineEdit* HistoryView::searchField() const {
    return search_->field();
}

void HistoryView::rebuild() {
    const bool any = !history_.items().empty();
    searchBar_->setVisible(any);
    empty_->setVisible(!any);
    scroll_->setVisible(any);
    count_->setText(QString::number(history_.items().size()));

    // A card that disappears takes the pointer's hover with it.
    hovered_.reset();
    while (QLayoutItem* item = cardsLayout_->takeAt(0)) {
        if (QWidget* card = item->widget()) {
            card->hide();
            card->deleteLater();
        }
        delete item;
    }
    listed_ = filtered(history_.items(), search_->field()->text());
    built_ = 0;
    buildMore();
}

void HistoryView::buildMore() {
    const std::size_t end = std::min(listed_.size(), built_ + batchSize);
    for (; built_ < end; ++built_) {
        auto* card = new HistoryCard(listed_[built_]);
        const korbit::UUID id = listed_[built_].id;
        connect(card, &HistoryCard::hoverChanged, this, [this, id](bool inside) {
            if (inside)
                setHovered(id);
            else if (hovered_ == id)
                setHovered(std::nullopt);
        });
        connect(card, &HistoryCard::copyRequested, this,
                [card] { TextInserter::copyToPasteboard(card->dictation().text); });
        // The store's change rebuilds the list; the card goes with it.
        connect(card, &HistoryCard::deleteRequested, this, [this, card] {
            const Dictation record = card->dictation();
            history_.remove(record);
        });
        cardsLayout_->addWidget(card);
    }
}

void HistoryView::maybeBuildMore() {
    if (built_ >= listed_.size()) return;
    const QScrollBar* bar = scroll_->verticalScrollBar();
    // Within a screenful of the end, the next batch is built.
    if (bar->maximum() - bar->value() <= scroll_->viewport()->height()) {
        // Out of the scroll bar's own signal, so the layout it is reporting on is left alone.
        QTimer::singleShot(0, this, [this] {
            const QScrollBar* now = scroll_->verticalScrollBar();
            if (built_ < listed_.size() && now->maximum() - now->value() <= scroll_->viewport()->height()) buildMore();
        });
    }
}

std::vector<HistoryCard*> HistoryView::cards() const {
    std::vector<HistoryCard*> result;
    for (int i = 0; i < cardsLayout_->count(); ++i)
        if (auto* card = qobject_cast<HistoryCard*>(cardsLayout_->itemAt(i)->widget())) result.push_back(card);
    return result;
}

void HistoryView::setHovered(const std::optional<korbit::UUID>& id) {
    hovered_ = id;
    for (HistoryCard* card : cards()) card->setHovered(id && card->dictation().id == *id);
}

QMessageBox* HistoryView::confirmation() const {
    return confirmation_;
}

void HistoryView::confirmClearAll() {
    if (confirmation_) return;
    auto* dialog = new QMessageBox(this);
    WindowDimmer::follow(dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setIcon(QMessageBox::Warning);
    dialog->setWindowTitle(QStringLiteral("Velmora"));
    dialog->setText(clearAllTitle(history_.items().size()));
    dialog->setInformativeText(QStringLiteral("Тексты и статистика будут стёрты навсегда. Отменить это нельзя."));
    QPushButton* erase = dialog->addButton(QStringLiteral("Удалить"), QMessageBox::DestructiveRole);
    AppStyle::markDestructive(erase);
    QPushButton* cancel = dialog->addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    dialog->setDefaultButton(cancel);
    // Room for the message on two lines rather than a narrow column.
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()))
        grid->addItem(new QSpacerItem(confirmationWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    dialog->setEscapeButton(cancel);
    connect(dialog, &QMessageBox::buttonClicked, this, [this, erase](QAbstractButton* button) {
        if (button == erase) history_.clearAll();
    });
    confirmation_ = dialog;
    dialog->open();
}

}  // namespace velmora
