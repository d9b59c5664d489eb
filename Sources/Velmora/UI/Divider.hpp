#pragma once

// A line between rows (1 high) or columns (1 wide), in the separator colour.

#include <QWidget>

namespace velmora {

class Divider : public QWidget {
    Q_OBJECT

public:
    explicit Divider(QWidget* parent = nullptr);
    explicit Divider(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velmora
