#pragma once

// The screen of the statistics tab. Until dictation exists here it says what will appear.

#include "Velmora/UI/EmptyScreen.hpp"

namespace velmora {

class StatsView : public EmptyScreen {
    Q_OBJECT

public:
    explicit StatsView(QWidget* parent = nullptr);
};

}  // namespace velmora
