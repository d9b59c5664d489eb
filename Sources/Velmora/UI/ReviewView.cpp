#include "Velmora/UI/ReviewView.hpp"

namespace velmora {

ReviewView::ReviewView(QWidget* parent)
    : EmptyScreen(
          "pencil.and.outline", QStringLiteral("Пока нечего поправлять"),
          QStringLiteral(
              "Здесь появится последняя диктовка: поправь в ней слово, и в следующий раз оно запишется правильно."),
          parent) {}

}  // namespace velmora
