// orvik-screenshot FILE.png: the panel, opened to its full height, just
// after STATUS was answered by the simulated projector. Keeps the README's
// picture true to the program. Runs offscreen.
#include "app/form1.h"
#include "core/clock.h"
#include "tools/sim/pty_projector.h"
#include "widgets/modal_warning_box.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: orvik-screenshot FILE.png\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

    orvik::sim::PtyProjector projector;
    orvik::SystemClock clock;
    orvik::ModalWarningBox warning;
    const QString path = projector.devicePath();
    const auto form = orvik::makeFormOnDevice(clock, warning, path);
    form->Form_Load();
    form->show();
    form->Form_KeyDown(72, 2); // Ctrl+H
    form->Command44_Click();   // STATUS

    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!form->grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "orvik-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
