#include "widgets/command_button.h"

#include "panel/twips.h"
#include "widgets/shift_state.h"

#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

namespace orvik {
namespace {
// Mouse positions in twips.
float twips(qreal pixels) { return float(pixels) * float(kTwipsPerPixel); }
} // namespace

CommandButton::CommandButton(QWidget* parent)
    : QPushButton(parent)
{
    // Press-and-hold comes from mouse events and the panel's own timer only;
    // the button's pressed()/released() also fire for Space and are not used.
    setAutoRepeat(false);
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { emit Click(); });
}

void CommandButton::mousePressEvent(QMouseEvent* event)
{
    const bool starts = held_ == Qt::NoButton;
    if (starts) {
        held_ = event->button();
        lastPos_ = event->position();
    }
    QPushButton::mousePressEvent(event);
    event->accept(); // keep the release of every mouse button on this button
    if (starts)
        emit MouseDown(mouseButtonCode(held_), shiftState(event->modifiers()), twips(lastPos_.x()),
                       twips(lastPos_.y()));
}

void CommandButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == held_) {
        held_ = Qt::NoButton;
        lastPos_ = event->position();
        emit MouseUp(mouseButtonCode(event->button()), shiftState(event->modifiers()), twips(lastPos_.x()),
                     twips(lastPos_.y()));
    }
    QPushButton::mouseReleaseEvent(event);
    event->accept();
}

void CommandButton::endLostHold()
{
    if (held_ == Qt::NoButton)
        return;
    const Qt::MouseButton button = held_;
    held_ = Qt::NoButton;
    setDown(false);
    emit MouseUp(mouseButtonCode(button), 0, twips(lastPos_.x()), twips(lastPos_.y()));
}

void CommandButton::hideEvent(QHideEvent* event)
{
    endLostHold();
    QPushButton::hideEvent(event);
}

void CommandButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        endLostHold();
    QPushButton::changeEvent(event);
}

bool CommandButton::event(QEvent* event)
{
    // Another window (a popup, a message box, another program) took over,
    // or the mouse grab was taken away: the release will not come here.
    if (event->type() == QEvent::WindowDeactivate || event->type() == QEvent::UngrabMouse)
        endLostHold();
    return QPushButton::event(event);
}

} // namespace orvik

namespace orvik {

void CommandButton::paintEvent(QPaintEvent*)
{
    // The graphical style: the face filled flat with the button's colour
    // from edge to edge, a classic raised edge (sunken while pressed), the
    // caption centred (wrapped at blanks when wider than the face, as
    // "DISPLAY CLEAR"), and a dotted focus rectangle inside the face.
    QPainter painter(this);
    const QPalette& pal = palette();
    const QBrush face = pal.brush(QPalette::Button);
    const bool sunken = isDown();
    qDrawWinButton(&painter, rect(), pal, sunken, &face);
    const int edge = 2;
    QRect area = rect().adjusted(edge, edge, -edge, -edge);
    if (sunken)
        area.translate(1, 1);
    painter.setPen(pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text());
    if (hasFocus()) {
        // Black dots over the face: seen on every face colour of the panel,
        // and the face between them keeps its colour.
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(edge + 1, edge + 1, -edge - 2, -edge - 2));
    }
}

} // namespace orvik
