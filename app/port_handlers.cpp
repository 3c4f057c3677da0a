// Start-up, port and speed switching, the settings frame, and END.
#include "app/form1.h"

#include "app/layout.h"
#include "panel/timer.h"
#include "panel/warning_box.h"
#include "widgets/frame.h"
#include "widgets/option_button.h"

#include <QGuiApplication>
#include <QScreen>

namespace orvik {
namespace {

const QString kFastSettings = QStringLiteral("19200,N,8,1");
const QString kSlowSettings = QStringLiteral("9600,N,8,1");

// The window's outer size as laid out, with the frame the layout was made with.
constexpr float kOuterWidth = layout::kWindow.outerWidth();
constexpr float kOuterHeight = layout::kWindow.outerHeight();

} // namespace

void Form1::Form_Load()
{
    failure_.clear();
    // Centred for the full height, before shrinking: the compact window's
    // top lies where a full-height window would be centred.
    const QRect screenArea = (screen() ? screen() : QGuiApplication::primaryScreen())->geometry();
    const float left = (float(screenArea.width() * kTwipsPerPixel) - kOuterWidth) / 2;
    const float top = (float(screenArea.height() * kTwipsPerPixel) - kOuterHeight) / 2;
    move(screenArea.topLeft() + QPoint(qRound(left / kTwipsPerPixel), qRound(top / kTwipsPerPixel)));
    setHeight(kCompactHeight);

    state_.PortSettings = kFastSettings;
    state_.RepeatCode = 0;
    state_.ReplyPending = 0;
    state_.ReceiveBuffer.clear();
    comm_->setCommPort(1);
    comm_->setSettings(state_.PortSettings);
    comm_->setPortOpen(true);
    // A failed opening stays pending: the port switch this raises shows it.
    option1_->setValue(true);
    failure_.clear();
}

void Form1::Option1_Click() { switchPort(1, 2); }
void Form1::Option2_Click() { switchPort(2, 1); }

void Form1::switchPort(int port, int fallback)
{
    const bool wasOpen = comm_->portOpen();
    if (wasOpen)
        comm_->setPortOpen(false);
    comm_->setCommPort(port);
    if (!failure_ && wasOpen)
        comm_->setPortOpen(true);
    if (failure_) {
        warning_.show(failure_.description);
        failure_.clear();
        comm_->setCommPort(fallback);
        failure_.clear();
        return;
    }
    frame8_->hide();
}

void Form1::Option3_Click() { switchSpeed(kFastSettings); }
void Form1::Option4_Click() { switchSpeed(kSlowSettings); }

void Form1::switchSpeed(const QString& settings)
{
    state_.PortSettings = settings;
    comm_->setSettings(state_.PortSettings);
    failure_.clear();
    frame8_->hide();
}

void Form1::Command33_Click()
{
    frame8_->show();
    timer(3).setEnabled(true);
}

void Form1::Timer3_Timer()
{
    frame8_->hide();
    timer(3).setEnabled(false);
}

void Form1::Command16_Click()
{
    comm_->setPortOpen(false);
    close();
    quit_(0);
}

} // namespace orvik
