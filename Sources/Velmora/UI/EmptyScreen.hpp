#pragma once

// A screen that holds only an empty state, padded like the other screens: for the tabs whose
// content this build does not have yet.

#include <QWidget>

#include <string_view>

namespace velmora {

class EmptyState;

class EmptyScreen : public QWidget {
    Q_OBJECT

public:
    EmptyScreen(std::string_view symbol, const QString& title, const QString& detail, QWidget* parent = nullptr);

    EmptyState* emptyState() const { return empty_; }

private:
    EmptyState* empty_;
};

}  // namespace velmora
