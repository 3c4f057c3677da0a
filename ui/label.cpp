#include "ui/label.h"

#include <QAccessible>

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
    setText(text);
    // A screen reader follows the traffic and status lines as they change.
    QAccessibleEvent changed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

} // namespace orvik
