#pragma once

// A horizontal line between rows, 1 high, in the separator colour.

#include <QWidget>

namespace velmora {

class Divider : public QWidget {
    Q_OBJECT

public:
    explicit Divider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velmora
