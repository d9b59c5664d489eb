#pragma once

// A button drawn as a link: its text in the accent colour, underlined under the pointer.

#include <QAbstractButton>

namespace velmora {

class LinkButton : public QAbstractButton {
    Q_OBJECT

public:
    LinkButton(const QString& text, const QFont& font, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool hovered_ = false;
};

}  // namespace velmora
