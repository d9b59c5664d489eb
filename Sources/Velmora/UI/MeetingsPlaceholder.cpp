#include "Velmora/UI/MeetingsPlaceholder.hpp"

namespace velmora {

MeetingsPlaceholder::MeetingsPlaceholder(QWidget* parent)
    : EmptyScreen("person.2.wave.2", QStringLiteral("Встречи скоро будут здесь"),
                  QStringLiteral("Запись созвонов с микрофона и звука компьютера появится в этом окне."), parent) {}

}  // namespace velmora
