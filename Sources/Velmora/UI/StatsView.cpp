#include "Velmora/UI/StatsView.hpp"

namespace velmora {

StatsView::StatsView(QWidget* parent)
    : EmptyScreen(
          "chart.bar.fill", QStringLiteral("Статистики пока нет"),
          QStringLiteral(
              "Когда накопятся диктовки, здесь будет видно, сколько слов надиктовано и сколько времени это сберегло."),
          parent) {}

}  // namespace velmora
