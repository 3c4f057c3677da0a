// The hidden data panel: Ctrl+H opens the whole window; the toggle button
// switches between the compact window and the data panel.
#include "app/form1.h"

#include "panel/timer.h"
#include "widgets/command_button.h"

namespace orvik {
namespace {
constexpr int kKeyH = 72;
constexpr int kCtrlAlone = 2;
} // namespace

void Form1::Form_KeyDown(int keyCode, int shift)
{
    if ((shift & 7) != kCtrlAlone || keyCode != kKeyH)
        return;
    setHeight(kFullHeight);
    command34_->setCaption(QStringLiteral("CLOSE"));
    command34_->setVisible(true);
}

void Form1::Command34_Click()
{
    timer(3).setEnabled(false);
    if (Height() < kOpenThreshold) {
        setHeight(kDataHeight);
        command34_->setCaption(QStringLiteral("データを表示しない"));
    } else {
        setHeight(kCompactHeight);
        command34_->setCaption(QStringLiteral("データを表示する"));
    }
    timer(3).setEnabled(true);
}

} // namespace orvik
