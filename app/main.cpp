#include "app/command_line.h"
#include "app/form1.h"
#include "core/clock.h"
#include "core/exit_signals.h"
#include "link/port_device.h"
#include "link/port_map.h"
#include "widgets/modal_warning_box.h"
#ifdef Q_OS_UNIX
#include "panel/borrowing_device.h"
#endif

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    const auto command = orvik::readCommandLine(argc, argv);
    if (const int* exitCode = std::get_if<int>(&command))
        return *exitCode;
    // Without a display Qt would stop with a message about a platform
    // plugin; say what to do instead.
    if (!orvik::displayAvailable(argc, argv)) {
        std::fputs(qPrintable(orvik::noDisplayHint(argv[0])), stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvik-control"));
    QApplication::setStyle(QStringLiteral("Fusion")); // button faces take their colours
    QIcon icon;
    for (const QString& file : QDir(QStringLiteral(":/icons")).entryList())
        icon.addFile(QStringLiteral(":/icons/") + file);
    QApplication::setWindowIcon(icon);
    orvik::quitOnTerminationSignals();

    const orvik::Options& options = std::get<orvik::Options>(command);
    const auto ports = orvik::choosePorts(orvik::portSourcesOf(options.ports));

    orvik::SystemClock clock;
    orvik::ModalWarningBox warning;
    // A port the service holds is borrowed from it for as long as it is open.
#ifdef Q_OS_UNIX
    auto device = std::make_unique<orvik::BorrowingDevice>(std::make_unique<orvik::PortDevice>());
#else
    auto device = std::make_unique<orvik::PortDevice>();
#endif
    orvik::Form1 form({clock, warning, std::move(device),
                       [ports](int port) { return ports.at(std::size_t(port == 2)); },
                       [](int code) { QCoreApplication::exit(code); }});
    warning.setParent(&form);
    // Qt ends the program with exit() when the display connection is lost:
    // the port still closes first, so its lock goes with it.
    static orvik::MSComm* port = &form.MSComm1();
    std::atexit([] {
        if (port)
            port->setPortOpen(false);
    });
    form.Form_Load();
    int status = 0;
    if (!orvik::terminationRequested()) { // during a warning at start-up, it is over
        form.show();
        status = QApplication::exec();
    }
    port = nullptr; // the form closes it as it goes
    return status;
}
