#include "Velmora/UI/SettingsView.hpp"

#include "Velmora/STT/LocalWhisperProvider.hpp"

#include "Velmora/UI/BrandButton.hpp"
#include "Velmora/UI/StyledLabel.hpp"
#include "Velmora/UI/SymbolLabel.hpp"

#include "MainServicesFixture.hpp"
#include "QtApplication.hpp"
#include "Screenshot.hpp"
#include "Support/TestModelHub.hpp"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace velmora;
using velmora::test::ScopedEnv;
using velmora::test::TestServices;
using velmora::test::waitUntil;
using State = AppController::ModelState;
using Engine = SettingsStore::Engine;

namespace {

class SettingsViewTest : public ::testing::Test {
protected:
    SettingsView& open() {
        view_ = std::make_unique<SettingsView>(services.controller);
        view_->resize(708, 560);
        view_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
        return *view_;
    }

    ScopedEnv reduced_{"VELMORA_REDUCE_MOTION", "1"};
    TestServices services;
    std::unique_ptr<SettingsView> view_;
};

}  // namespace

TEST(SettingsTextTest, StatesSizesAndEngines) {
    EXPECT_EQ(SettingsView::stateText(State::absent(), 0), "Модель не скачана");
    EXPECT_EQ(SettingsView::stateText(State::downloading(), 0.427), "Качаю модель — 42 %");
    EXPECT_EQ(SettingsView::stateText(State::downloaded(), 1), "Модель скачана и ещё не загружена");
    EXPECT_EQ(SettingsView::stateText(State::loading(), 1), "Готовлю модель…");
    EXPECT_EQ(SettingsView::stateText(State::ready(), 1), "Модель готова к работе");
    EXPECT_EQ(SettingsView::stateText(State::failed("нет места на диске"), 0), "Не получилось: нет места на диске");
    EXPECT_EQ(SettingsView::sizeText(1234), "На диске: 1234 МБ");
    EXPECT_EQ(SettingsView::engineTitle(Engine::local), "На этом компьютере");
}

TEST(ModelSizeTest, WholeMebibytesOfEveryFileAtEveryDepth) {
    test::TempDir dir;
    test::FakeModelEngine engine(dir / "model");
    EXPECT_EQ(engine.sizeOnDiskMB(), 0);
    test::writeFile(dir / "model" / "a.bin", std::string(1048575, 'x'));
    EXPECT_EQ(engine.sizeOnDiskMB(), 0);
    test::writeFile(dir / "model" / "MelSpectrogram.mlmodelc" / ".hidden" / "b.bin", std::string(1, 'y'));
    EXPECT_EQ(engine.sizeOnDiskMB(), 1);
    test::writeFile(dir / "model" / "c.bin", std::string(2 * 1048576, 'z'));
    EXPECT_EQ(engine.sizeOnDiskMB(), 3);
}

TEST_F(SettingsViewTest, DownloadsTheModelWithProgressThenShowsItReady) {
    SettingsView& view = open();
    EXPECT_EQ(view.stateLabel()->text(), "Модель не скачана");
    EXPECT_EQ(view.sizeLabel()->text(), "На диске: 0 МБ");
    EXPECT_TRUE(view.prepareButton()->isVisible());
    EXPECT_EQ(view.prepareButton()->text(), "Скачать модель");
    EXPECT_FALSE(view.removeButton()->isEnabled());
    EXPECT_FALSE(view.progressBar()->isVisible());
    EXPECT_EQ(view.folderLabel()->text(), QString::fromStdString(services.engine->modelFolder().string()));

    services.engine->progressSteps = {0.5};
    services.engine->downloadGate.shut();
    QTest::mouseClick(view.prepareButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return services.controller.modelProgress() == 0.5; }));
    EXPECT_EQ(view.stateLabel()->text(), "Качаю модель — 50 %");
    EXPECT_TRUE(view.progressBar()->isVisible());
    EXPECT_EQ(view.progressBar()->value(), 500);
    EXPECT_FALSE(view.prepareButton()->isVisible());
    EXPECT_TRUE(view.removeButton()->isEnabled());

    services.engine->downloadGate.open();
    ASSERT_TRUE(waitUntil([&] { return services.controller.modelState() == State::ready(); }));
    EXPECT_EQ(view.stateLabel()->text(), "Модель готова к работе");
    EXPECT_FALSE(view.prepareButton()->isVisible());
    EXPECT_FALSE(view.progressBar()->isVisible());
    EXPECT_TRUE(view.removeButton()->isEnabled());
}

TEST_F(SettingsViewTest, RemovingTheModelDeletesItsFilesAndOffersTheDownloadAgain) {
    test::writeFile(services.engine->modelFolder() / "MelSpectrogram.mlmodelc" / "weights.bin",
                    std::string(3 * 1048576, 'w'));
    AppController controller(services.engine, services.settings);
    SettingsView view(controller);
    view.show();
    EXPECT_EQ(view.stateLabel()->text(), "Модель скачана и ещё не загружена");
    EXPECT_EQ(view.sizeLabel()->text(), "На диске: 3 МБ");
    EXPECT_EQ(view.prepareButton()->text(), "Загрузить модель");
    ASSERT_TRUE(view.removeButton()->isEnabled());

    QTest::mouseClick(view.removeButton(), Qt::LeftButton);
    EXPECT_FALSE(std::filesystem::exists(services.engine->modelFolder()));
    EXPECT_EQ(view.stateLabel()->text(), "Модель не скачана");
    EXPECT_EQ(view.sizeLabel()->text(), "На диске: 0 МБ");
    EXPECT_EQ(view.prepareButton()->text(), "Скачать модель");
    EXPECT_FALSE(view.removeButton()->isEnabled());
}

TEST_F(SettingsViewTest, AFailedDownloadCanBeTriedAgain) {
    services.engine->downloadError = "соединение оборвалось";
    SettingsView& view = open();
    QTest::mouseClick(view.prepareButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return services.controller.modelState().kind() == State::Kind::failed; }));
    EXPECT_EQ(view.stateLabel()->text(), "Не получилось: соединение оборвалось");
    EXPECT_TRUE(view.prepareButton()->isVisible());
    EXPECT_EQ(view.prepareButton()->text(), "Попробовать снова");
}

TEST_F(SettingsViewTest, TheEngineChoiceIsSavedAndFollowed) {
    SettingsView& view = open();
    QComboBox* choice = view.engineChoice();
    ASSERT_EQ(choice->count(), 3);
    EXPECT_EQ(choice->currentText(), "На этом компьютере");
    choice->setCurrentIndex(1);
    Q_EMIT choice->activated(1);
    EXPECT_EQ(services.settings.config().engine, Engine::server);
    EXPECT_EQ(SettingsStore(services.settings.file()).config().engine, Engine::server);
    services.controller.setEngine(Engine::cloud);
    EXPECT_EQ(choice->currentText(), "Облако по своему ключу");
}

// An engine choice that cannot be saved is not shown as made: the choice goes back to what the
// file holds, the model stays as it was, and the screen says why until a choice is saved.
TEST_F(SettingsViewTest, AnEngineChoiceThatCannotBeSavedGoesBackAndSaysWhy) {
    services.engine->putModelOnDisk();
    services.controller.prepareLocalModel();
    ASSERT_TRUE(waitUntil([&] { return services.controller.modelState() == State::ready(); }));
    SettingsView& view = open();
    SymbolLabel* error = view.errorLine();
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(error->isVisible());
    std::filesystem::create_directories(services.settings.file());  // the rename over it fails

    QComboBox* choice = view.engineChoice();
    choice->setCurrentIndex(1);
    Q_EMIT choice->activated(1);
    EXPECT_EQ(choice->currentText(), "На этом компьютере");
    EXPECT_EQ(services.settings.config().engine, Engine::local);
    EXPECT_EQ(services.controller.modelState(), State::ready());
    EXPECT_TRUE(services.engine->isLoaded());
    ASSERT_TRUE(services.settings.saveError());
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text().toStdString(), "Не удалось сохранить настройки: " + *services.settings.saveError());
    const QImage picture = view.grab().toImage();
    EXPECT_TRUE(
        test::containsColour(picture, QRect(error->mapTo(&view, QPoint(0, 0)), error->size()), Design::orange(), 40));

    std::filesystem::remove(services.settings.file());
    choice->setCurrentIndex(1);
    Q_EMIT choice->activated(1);
    EXPECT_EQ(choice->currentText(), "Сервер Velmora");
    EXPECT_EQ(SettingsStore(services.settings.file()).config().engine, Engine::server);
    EXPECT_FALSE(error->isVisible());
}

// The real engine: a model downloaded once is ready with the hub out of reach, as on a train.
TEST(SettingsViewOffline, ADownloadedModelIsReadyWithoutTheHub) {
    ScopedEnv reduced{"VELMORA_REDUCE_MOTION", "1"};
    test::TempDir dir;
    auto engine = std::make_shared<LocalWhisperProvider>(dir / "models");
    {
        test::TestModelHub hub;
        engine->download(nullptr);
    }
    ScopedEnv closed{"HF_ENDPOINT", "http://127.0.0.1:9"};
    SettingsStore settings(dir / "config.json");
    MeetingStore meetings(dir / "meetings");
    Glossary glossary(dir / "glossary.json");
    AppController controller(engine, settings, meetings, glossary, std::make_unique<test::FakeSampleSource>(),
                             std::make_unique<test::FakeSampleSource>());
    SettingsView view(controller);
    view.show();
    EXPECT_EQ(view.stateLabel()->text(), "Модель скачана и ещё не загружена");

    controller.start();
    ASSERT_TRUE(waitUntil([&] { return controller.modelState().kind() != State::Kind::loading; }));
    EXPECT_EQ(controller.modelState(), State::ready()) << controller.modelState().message();
    EXPECT_EQ(view.stateLabel()->text(), "Модель готова к работе");
    EXPECT_TRUE(engine->isLoaded());
}
