#include "widgets/spoken_notice.h"

namespace orvik {

SpokenNotice::SpokenNotice(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(0, 0);
    hide(); // until there is something to say
}

void SpokenNotice::announce(const QString& text)
{
    setAccessibleName(text);
    hide();
    show();
}

} // namespace orvik
