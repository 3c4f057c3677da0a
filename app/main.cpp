#include "app/form1.h"
#include "serial/port_map.h"
#include "serial/qt_serial_device.h"
#include "ui/clock.h"
#include "ui/modal_warning_box.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace {

// Without a display Qt would stop with a message about a platform plugin;
// say what to do instead.
bool displayMissing()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
           && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return false;
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    if (displayMissing()) {
        std::fputs("orvik-control: no display found (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                   "On a machine without a display, run it on a virtual one:\n"
                   "    xvfb-run -a orvik-control\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvik-control"));
    QApplication::setStyle(QStringLiteral("Fusion")); // button faces take their colours
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/orvik-control-16.png"));
    icon.addFile(QStringLiteral(":/icons/orvik-control-32.png"));
    QApplication::setWindowIcon(icon);

    orvik::SystemClock clock;
    orvik::ModalWarningBox warning;
    orvik::Form1 form({clock, warning, std::make_unique<orvik::QtSerialDevice>(),
                       &orvik::devicePathForPort, [](int code) { QCoreApplication::exit(code); }});
    warning.setParent(&form);
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
