#include "ui/line_shape.h"

#include <QPainter>

namespace orvik {

LineShape::LineShape(QLine line, QColor color, int width, QWidget* parent)
    : QWidget(parent)
    , line_(line)
    , color_(color)
    , width_(width)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    const int margin = width_;
    setGeometry(QRect(line_.p1(), line_.p2()).normalized().adjusted(-margin, -margin, margin, margin));
}

void LineShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(color_, width_, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(line_.translated(-pos()));
}

} // namespace orvik
