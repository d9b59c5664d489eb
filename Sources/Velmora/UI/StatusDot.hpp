#pragma once

// A small filled circle in one colour: the status light of the sidebar.

#include <QColor>
#include <QWidget>

namespace velmora {

class StatusDot : public QWidget {
    Q_OBJECT

public:
    StatusDot(int diameter, const QColor& colour, QWidget* parent = nullptr);

    QColor colour() const { return colour_; }
    void setColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
};

}  // namespace velmora
