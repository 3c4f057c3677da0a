#include "widgets/option_button.h"

namespace orvik {

OptionButton::OptionButton(QWidget* parent)
    : QRadioButton(parent)
{
    setAutoExclusive(true);
    connect(this, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            emit Click();
    });
}

} // namespace orvik
