#include "Velmora/UI/EmptyScreen.hpp"

#include "Velmora/UI/EmptyState.hpp"

#include <QVBoxLayout>

namespace velmora {

EmptyScreen::EmptyScreen(std::string_view symbol, const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 0, 32, 32);
    empty_ = new EmptyState(symbol, title, detail, nullptr, this);
    layout->addWidget(empty_);
}

}  // namespace velmora
