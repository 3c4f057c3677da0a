// orvik-wine-check: the panel's window as orvik-control.exe builds it,
// clicked through real mouse events under Wine, printing what it shows.
//   orvik-wine-check.exe -platform offscreen
// COM1 and COM2 are the system's. Prints TXD, RXD and STATUS lines after
// POWER ON and after STATUS, then the warning that choosing COM2 gives.
#include "app/form1.h"
#include "core/clock.h"
#include "link/port_device.h"
#include "link/port_map.h"
#include "panel/warning_box.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#include <cstdio>

namespace {

class PrintingWarningBox final : public orvik::WarningBox {
public:
    void show(const QString& text) override { std::printf("WARNING:%s\n", qPrintable(text)); }
};

void runFor(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A left click in the middle of the control, as the mouse gives it.
void click(QWidget* control)
{
    const QPointF centre = QRectF(control->rect()).center();
    const QPointF global = control->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(control, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(control, &release);
}

QString caption(orvik::Form1& form, const char* name)
{
    return form.control(QLatin1String(name))->property("text").toString();
}

void report(orvik::Form1& form, const char* after)
{
    std::printf("%s TXD:[%s] RXD:[%s] STATUS:[%s]\n", after, qPrintable(caption(form, "Label11")),
                qPrintable(caption(form, "Label12")), qPrintable(caption(form, "Label25")));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const auto ports = orvik::choosePorts({{}, {}, {}});
    orvik::SystemClock clock;
    PrintingWarningBox warning;
    orvik::Form1 form({clock, warning, std::make_unique<orvik::PortDevice>(),
                       [ports](int port) { return ports.at(std::size_t(port == 2)); }, [](int) {}});
    form.Form_Load();
    form.show();
    form.Form_KeyDown(72, 2); // Ctrl+H: the data panel
    runFor(300);

    click(form.control(QStringLiteral("Command17"))); // POWER ON
    runFor(300);
    report(form, "POWER ON");
    runFor(900); // past the reply time-out and the display clear, as a person would be
    click(form.control(QStringLiteral("Command44"))); // STATUS
    runFor(300);
    report(form, "STATUS");
    click(form.control(QStringLiteral("Command33"))); // COM
    runFor(100);
    click(form.control(QStringLiteral("Option2"))); // COM2
    runFor(100);
    std::fflush(stdout);
    return 0;
}
