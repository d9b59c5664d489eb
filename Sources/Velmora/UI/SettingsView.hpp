#pragma once

// The settings screen, as far as this build has settings: the engine that turns speech into text,
// and the on-device model with its state, download, size on disk and removal. Built anew each
// time the settings tab is chosen. A choice the settings could not save is not shown as made.

#include "Velmora/UI/CardColumn.hpp"

#ifndef Q_MOC_RUN
#include "Velmora/AppController.hpp"
#endif

class QComboBox;
class QProgressBar;
class QPushButton;

namespace velmora {

class BrandButton;
class SettingsStore;
class StyledLabel;
class SymbolLabel;
class SymbolView;

class SettingsView : public CardColumn {
    Q_OBJECT

public:
    /// The model's state in words.
    static QString stateText(const AppController::ModelState& state, double progress);
    /// "На диске: N МБ".
    static QString sizeText(std::int64_t megabytes);
    /// The engines in the order of the choice, and their names there.
    static QString engineTitle(SettingsStore::Engine engine);

    /// Over the controller's settings.
    explicit SettingsView(AppController& controller, QWidget* parent = nullptr);

    QComboBox* engineChoice() const { return engine_; }
    StyledLabel* stateLabel() const { return state_; }
    QProgressBar* progressBar() const { return progress_; }
    StyledLabel* sizeLabel() const { return size_; }
    StyledLabel* folderLabel() const { return folder_; }
    /// Downloads and loads the model ("Скачать модель"), or loads it ("Загрузить модель",
    /// "Попробовать снова"); hidden while it is being prepared and once it is ready.
    BrandButton* prepareButton() const { return prepare_; }
    /// "Удалить модель": enabled while the model's files are on disk or coming.
    QPushButton* removeButton() const { return remove_; }
    /// "Не удалось сохранить настройки: …" while the last change of the settings could not be saved.
    SymbolLabel* errorLine() const { return error_; }

private:
    QWidget* makeEngineCard();
    QWidget* makeModelCard();
    void refresh();

    AppController& controller_;
    SettingsStore& settings_;
    QComboBox* engine_ = nullptr;
    SymbolView* stateSymbol_ = nullptr;
    StyledLabel* state_ = nullptr;
    QProgressBar* progress_ = nullptr;
    StyledLabel* size_ = nullptr;
    StyledLabel* folder_ = nullptr;
    BrandButton* prepare_ = nullptr;
    QPushButton* remove_ = nullptr;
    SymbolLabel* error_ = nullptr;
};

}  // namespace velmora
