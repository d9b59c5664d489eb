#include "Velmora/UI/MainView.hpp"

#include "Velmora/Account/AccountState.hpp"
#include "Velmora/AppController.hpp"
#include "Velmora/UI/AccountRow.hpp"
#include "Velmora/UI/AppSplash.hpp"
#include "Velmora/UI/BannerRow.hpp"
#include "Velmora/UI/ClampedLabel.hpp"
#include "Velmora/UI/Design.hpp"
#include "Velmora/UI/Divider.hpp"
#include "Velmora/UI/SettingsView.hpp"
#include "Velmora/UI/SidebarItem.hpp"
#include "Velmora/UI/StatusDot.hpp"
#include "Velmora/UI/StyledLabel.hpp"

#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace velmora {

bool MainView::splashShown = false;

MainView::MainView(AppController& controller, MainTab initialTab, QWidget* parent)
    : MainView(MainServices::shared(controller), initialTab, Screens::make, parent) {}

MainView::MainView(const MainServices& services, MainTab initialTab, Screens::Factory screens, QWidget* parent)
    : QWidget(parent), services_(services), screens_(std::move(screens)), tab_(initialTab) {
    setMinimumSize(minimumWidth, minimumHeight);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(makeSidebar());
    columns->addWidget(new Divider(Qt::Vertical, this));
    columns->addWidget(makeContent(), 1);

    AppController& controller = services_.controller;
    connect(&controller, &AppController::modelStateChanged, this, &MainView::followController);
    connect(&controller, &AppController::modelProgressChanged, this, &MainView::followController);
    connect(&controller, &AppController::modelElapsedChanged, this, &MainView::followController);
    connect(&controller, &AppController::warningChanged, this, &MainView::followController);
    connect(&services_.account, &AccountState::changed, this, &MainView::followAccount);
    followController();
    followAccount();

    for (SidebarItem* item : items_) item->setChosen(item->tab() == tab_);
    showScreen();

    if (!splashShown) splash_ = new AppSplash(this);
}

QWidget* MainView::makeSidebar() {
    auto* sidebar = new QWidget(this);
    sidebar->setFixedWidth(sidebarWidth);
    // The platform's regular material: a shade below the window's colour, under the whole column.
    QPalette shade = sidebar->palette();
    shade.setColor(QPalette::Window, shade.color(QPalette::Window).darker(104));
    sidebar->setPalette(shade);
    sidebar->setAutoFillBackground(true);

    auto* column = new QVBoxLayout(sidebar);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addSpacing(sidebarTopSpace);

    auto* list = new QVBoxLayout;
    list->setContentsMargins(itemInset, 0, itemInset, 0);
    list->setSpacing(itemSpacing);
    for (MainTab tab : MainTabs::sidebar) {
        auto* item = new SidebarItem(tab, sidebar);
        connect(item, &SidebarItem::clicked, this, [this, tab] { setTab(tab); });
        connect(item, &SidebarItem::hoverChanged, this, [this, tab](bool inside) {
            if (inside)
                hovered_ = tab;
            else if (hovered_ == tab)
                hovered_.reset();
        });
        items_.push_back(item);
        list->addWidget(item);
    }
    column->addLayout(list);
    column->addStretch(1);
    column->addSpacing(footerMinimumSpace);

    auto* status = new QHBoxLayout;
    status->setContentsMargins(statusInset, 0, statusInset, statusBottomInset);
    status->setSpacing(statusSpacing);
    statusDot_ = new StatusDot(statusDotDiameter, Design::green(), sidebar);
    status->addWidget(statusDot_, 0, Qt::AlignVCenter);
    statusText_ = new ClampedLabel(QString(), Design::font(Design::TextStyle::caption), Design::Level::secondary,
                                   statusMaxLines, sidebar);
    status->addWidget(statusText_, 1, Qt::AlignVCenter);
    column->addLayout(status);
    column->addWidget(new Divider(sidebar));

    accountRow_ = new AccountRow(sidebar);
    connect(accountRow_, &AccountRow::clicked, this, [this] { setTab(MainTab::plan); });
    column->addWidget(accountRow_);
    return sidebar;
}

QWidget* MainView::makeContent() {
    auto* content = new QWidget(this);
    contentLayout_ = new QVBoxLayout(content);
    contentLayout_->setContentsMargins(0, 0, 0, 0);
    contentLayout_->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(headerHorizontalInset, headerTopInset, headerHorizontalInset, headerBottomInset);
    header->setSpacing(headerSpacing);
    QFont titleFont = Design::font(titlePixels, QFont::DemiBold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, titleTracking);
    title_ = new StyledLabel(QString(), titleFont, Design::Level::primary, content);
    header->addWidget(title_);
    subtitle_ = new StyledLabel(QString(), Design::font(subtitlePixels), Design::Level::tertiary, content);
    subtitle_->setWordWrap(true);
    header->addWidget(subtitle_);
    contentLayout_->addLayout(header);

    banner_ = new BannerRow(content);
    connect(banner_, &BannerRow::settingsRequested, this, [this] { setTab(MainTab::settings); });
    contentLayout_->addWidget(banner_);
    return content;
}

AppSplash* MainView::splash() const {
    return splash_;
}

SidebarItem* MainView::sidebarItem(MainTab tab) const {
    for (SidebarItem* item : items_)
        if (item->tab() == tab) return item;
    return nullptr;
}

void MainView::setTab(MainTab tab) {
    if (tab == tab_) return;
    tab_ = tab;
    for (SidebarItem* item : items_) item->setChosen(item->tab() == tab_);
    showScreen();
    Q_EMIT tabChanged(tab_);
}

void MainView::showScreen() {
    title_->setText(MainTabs::title(tab_));
    const std::optional<QString> subtitle = MainTabs::subtitle(tab_);
    subtitle_->setText(subtitle.value_or(QString()));
    subtitle_->setVisible(subtitle.has_value());

    QWidget* next = screens_(tab_, services_, [this](MainTab tab) { setTab(tab); });
    if (next == nullptr) next = new QWidget;
    if (detail_ != nullptr) {
        delete contentLayout_->replaceWidget(detail_, next);
        // The old screen may be the sender of what brought us here: it goes once that is over.
        detail_->hide();
        detail_->deleteLater();
    } else {
        contentLayout_->addWidget(next, 1);
    }
    detail_ = next;
    detail_->show();
}

void MainView::followController() {
    const AppController& controller = services_.controller;
    banner_->follow(controller);
    // The warning first; otherwise the model's real state, in the words of the settings: ready to
    // dictate only once it is ready, since meetings always need it.
    using Kind = AppController::ModelState::Kind;
    const std::optional<std::string>& warning = controller.warning();
    const AppController::ModelState& state = controller.modelState();
    if (warning) {
        statusDot_->setColour(Design::orange());
        statusText_->setText(QString::fromStdString(*warning));
    } else if (state.kind() == Kind::ready) {
        statusDot_->setColour(Design::green());
        statusText_->setText(QStringLiteral("Готов к диктовке"));
    } else {
        const bool missing = state.kind() == Kind::absent || state.kind() == Kind::failed;
        statusDot_->setColour(missing ? Design::orange()
                                      : Design::foreground(statusDot_->palette(), Design::Level::secondary));
        statusText_->setText(SettingsView::stateText(state, controller.modelProgress()));
    }
}

void MainView::followAccount() {
    accountRow_->set(services_.account.signedIn(), QString::fromStdString(services_.account.email()));
}

void MainView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (splash_ == nullptr || splashStarted_) return;
    splashStarted_ = true;
    splashShown = true;
    splash_->setGeometry(rect());
    splash_->raise();
    splash_->show();
    splash_->appear();
    QTimer::singleShot(splashMs, this, [this] {
        if (splash_ != nullptr) splash_->leave();
    });
}

void MainView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (splash_ != nullptr) splash_->setGeometry(rect());
}

}  // namespace velmora
