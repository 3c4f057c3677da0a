#include "widgets/label.h"

namespace orvik {

Label::Label(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFocusPolicy(Qt::NoFocus);
}

void Label::setCaption(const QString& text)
{
    if (text == QLabel::text())
        return;
    setText(text); // QLabel tells a screen reader itself, once
}

} // namespace orvik
