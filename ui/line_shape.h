#pragma once

#include <QColor>
#include <QLine>
#include <QWidget>

namespace orvik {

// A straight line drawn on its container, behind the controls. It takes no
// mouse events and never the focus.
class LineShape : public QWidget {
    Q_OBJECT
public:
    LineShape(QLine line, QColor color, int width, QWidget* parent = nullptr);
    QLine line() const { return line_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLine line_;
    QColor color_;
    int width_;
};

} // namespace orvik
