#pragma once

// The screen of the meetings tab until the meetings screen exists.

#include "Velmora/UI/EmptyScreen.hpp"

namespace velmora {

class MeetingsPlaceholder : public EmptyScreen {
    Q_OBJECT

public:
    explicit MeetingsPlaceholder(QWidget* parent = nullptr);
};

}  // namespace velmora
