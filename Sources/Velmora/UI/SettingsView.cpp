#include "Velmora/UI/SettingsView.hpp"

#include "Velmora/Support/SettingsStore.hpp"
#include "Velmora/UI/AppStyle.hpp"
#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/Card.hpp"
#include "Velmora/UI/SectionHeader.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"
#include "Velmora/UI/SymbolView.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace velmora {

namespace {

using Kind = AppController::ModelState::Kind;
using Engine = SettingsStore::Engine;

constexpr Engine engines[] = {Engine::local, Engine::server, Engine::cloud};

}  // namespace

QString SettingsView::stateText(const AppController::ModelState& state, double progress) {
    switch (state.kind()) {
        case Kind::absent:
            return QStringLiteral("Модель не скачана");
        case Kind::downloading:
            return QStringLiteral("Качаю модель — ") +
                   QString::number(static_cast<long long>(std::trunc(progress * 100))) + QStringLiteral(" %");
        case Kind::downloaded:
            return QStringLiteral("Модель скачана и ещё не загружена");
        case Kind::loading:
            return QStringLiteral("Готовлю модель…");
        case Kind::ready:
            return QStringLiteral("Модель готова к работе");
        case Kind::failed:
            return QStringLiteral("Не получилось: ") + QString::fromStdString(state.message());
    }
    return {};
}

QString SettingsView::sizeText(std::int64_t megabytes) {
    return QStringLiteral("На диске: ") + QString::number(megabytes) + QStringLiteral(" МБ");
}

QString SettingsView::engineTitle(SettingsStore::Engine engine) {
    switch (engine) {
        case Engine::local:
            return QStringLiteral("На этом компьютере");
        case Engine::server:
            return QStringLiteral("Сервер Velmora");
        case Engine::cloud:
            return QStringLiteral("Облако по своему ключу");
    }
    return {};
}

SettingsView::SettingsView(AppController& controller, QWidget* parent)
    : CardColumn(parent), controller_(controller), settings_(controller.settings()) {
    addCard(makeEngineCard());
    addCard(makeModelCard());
    connect(&controller_, &AppController::modelStateChanged, this, &SettingsView::refresh);
    connect(&controller_, &AppController::modelProgressChanged, this, &SettingsView::refresh);
    connect(&settings_, &SettingsStore::configChanged, this, &SettingsView::refresh);
    connect(&settings_, &SettingsStore::saveErrorChanged, this, &SettingsView::refresh);
    refresh();
}

QWidget* SettingsView::makeEngineCard() {
    auto* card = new Card(cardPadding);
    QVBoxLayout* layout = card->contentLayout();
    layout->setSpacing(cardContentSpacing);
    layout->addWidget(new SectionHeader(QStringLiteral("Распознавание"),
                                        QStringLiteral("Где речь превращается в текст. Встречи всегда "
                                                       "расшифровываются на этом компьютере."),
                                        card));
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(
        new StyledLabel(QStringLiteral("Движок"), Design::font(Design::TextStyle::body), Design::Level::primary, card));
    engine_ = new QComboBox(card);
    for (Engine engine : engines) engine_->addItem(engineTitle(engine), static_cast<int>(engine));
    row->addWidget(engine_);
    row->addStretch(1);
    layout->addLayout(row);
    error_ = new SymbolLabel("exclamationmark.triangle.fill", QString(), Design::font(Design::TextStyle::callout),
                             Design::orange(), card);
    error_->setWordWrap(true);
    error_->hide();
    layout->addWidget(error_);
    connect(engine_, &QComboBox::activated, this, [this](int index) {
        controller_.setEngine(static_cast<Engine>(engine_->itemData(index).toInt()));
        // A choice that could not be saved goes back to the one the file holds.
        refresh();
    });
    return card;
}

QWidget* SettingsView::makeModelCard() {
    auto* card = new Card(cardPadding);
    QVBoxLayout* layout = card->contentLayout();
    layout->setSpacing(cardContentSpacing);
    layout->addWidget(new SectionHeader(QStringLiteral("Локальная модель"),
                                        QStringLiteral("whisper-large-v3: распознаёт без сети, ничего не "
                                                       "отправляет. Скачивается один раз."),
                                        card));

    auto* stateRow = new QHBoxLayout;
    stateRow->setSpacing(8);
    stateSymbol_ = new SymbolView("arrow.down.circle", 14, Design::Level::secondary, card);
    stateRow->addWidget(stateSymbol_, 0, Qt::AlignVCenter);
    state_ =
        new StyledLabel(QString(), Design::font(Design::TextStyle::body, QFont::Medium), Design::Level::primary, card);
    state_->setWordWrap(true);
    stateRow->addWidget(state_, 1, Qt::AlignVCenter);
    layout->addLayout(stateRow);

    progress_ = new QProgressBar(card);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(6);
    QPalette accent = progress_->palette();
    accent.setColor(QPalette::Highlight, Design::brand());
    progress_->setPalette(accent);
    layout->addWidget(progress_);

    size_ = new StyledLabel(QString(), Design::font(Design::TextStyle::callout), Design::Level::secondary, card);
    layout->addWidget(size_);
    folder_ = new StyledLabel(QString::fromStdString(controller_.engine().modelFolder().string()),
                              Design::font(Design::TextStyle::caption), Design::Level::tertiary, card);
    folder_->setWordWrap(true);
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(folder_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    prepare_ = new BrandButton(QStringLiteral("Скачать модель"), false, card);
    prepare_->setSymbol("arrow.down.circle");
    buttons->addWidget(prepare_, 0, Qt::AlignVCenter);
    remove_ = new QPushButton(QStringLiteral("Удалить модель"), card);
    remove_->setAutoDefault(false);
    AppStyle::markDestructive(remove_);
    buttons->addWidget(remove_, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(prepare_, &BrandButton::clicked, &controller_, &AppController::prepareLocalModel);
    connect(remove_, &QPushButton::clicked, &controller_, &AppController::removeLocalModel);
    return card;
}

void SettingsView::refresh() {
    const int chosen = engine_->findData(static_cast<int>(settings_.config().engine));
    if (chosen >= 0) engine_->setCurrentIndex(chosen);
    const std::optional<std::string>& error = settings_.saveError();
    if (error) error_->setText(QStringLiteral("Не удалось сохранить настройки: ") + QString::fromStdString(*error));
    error_->setVisible(error.has_value());

    const AppController::ModelState& state = controller_.modelState();
    const Kind kind = state.kind();
    state_->setText(stateText(state, controller_.modelProgress()));
    switch (kind) {
        case Kind::ready:
            stateSymbol_->setSymbol("checkmark");
            stateSymbol_->setColour(Design::green());
            break;
        case Kind::failed:
            stateSymbol_->setSymbol("exclamationmark.triangle.fill");
            stateSymbol_->setColour(Design::orange());
            break;
        case Kind::loading:
            stateSymbol_->setSymbol("gearshape.2");
            stateSymbol_->setColour(Design::foreground(palette(), Design::Level::secondary));
            break;
        default:
            stateSymbol_->setSymbol("arrow.down.circle");
            stateSymbol_->setColour(Design::foreground(palette(), Design::Level::secondary));
    }
    progress_->setVisible(kind == Kind::downloading);
    progress_->setValue(static_cast<int>(std::lround(controller_.modelProgress() * 1000)));

    const bool onDisk = controller_.engine().hasModelFiles();
    size_->setText(sizeText(onDisk ? controller_.engine().sizeOnDiskMB() : 0));
    const bool busy = kind == Kind::downloading || kind == Kind::loading;
    prepare_->setVisible(!busy && kind != Kind::ready);
    prepare_->setText(kind == Kind::failed ? QStringLiteral("Попробовать снова")
                      : onDisk             ? QStringLiteral("Загрузить модель")
                                           : QStringLiteral("Скачать модель"));
    prepare_->setSymbol(onDisk ? "gearshape.2" : "arrow.down.circle");
    remove_->setEnabled(onDisk || kind == Kind::downloading);
}

}  // namespace velmora
