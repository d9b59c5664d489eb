#pragma once

// The screen of the review tab: the last dictation, to correct. Until dictation exists here it says what will appear.

#include "Velmora/UI/EmptyScreen.hpp"

namespace velmora {

class ReviewView : public EmptyScreen {
    Q_OBJECT

public:
    explicit ReviewView(QWidget* parent = nullptr);
};

}  // namespace velmora
