#pragma once

#include <Qt>

namespace orvik {

// Modifier state as the panel's handlers see it: Shift 1, Ctrl 2, Alt 4.
inline int shiftState(Qt::KeyboardModifiers modifiers)
{
    int state = 0;
    if (modifiers & Qt::ShiftModifier)
        state |= 1;
    if (modifiers & Qt::ControlModifier)
        state |= 2;
    if (modifiers & Qt::AltModifier)
        state |= 4;
    return state;
}

// Mouse button codes: left 1, right 2, middle 4; other buttons keep Qt's bit.
inline int mouseButtonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return static_cast<int>(button);
    }
}

} // namespace orvik
