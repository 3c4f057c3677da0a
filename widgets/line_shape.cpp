#include "widgets/line_shape.h"

#include <QPainter>

namespace orvik {

LineShape::LineShape(QLine line, QColor color, int width, QObject* parent)
    : QObject(parent)
    , line_(line)
    , color_(color)
    , width_(width)
{
}

void LineShape::paint(QPainter& painter) const
{
    painter.setPen(QPen(color_, width_, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(line_);
}

} // namespace orvik
