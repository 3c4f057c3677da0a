#pragma once

#include <QColor>
#include <QLine>
#include <QObject>

class QPainter;

namespace orvik {

// A straight line that its container draws behind the controls. It is no
// widget: it takes no mouse events, never the focus, and has no place in
// the accessible tree.
class LineShape : public QObject {
    Q_OBJECT
public:
    LineShape(QLine line, QColor color, int width, QObject* parent = nullptr);
    QLine line() const { return line_; }
    void paint(QPainter& painter) const;

private:
    QLine line_;
    QColor color_;
    int width_;
};

} // namespace orvik
