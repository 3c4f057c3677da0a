// orvik-projector-sim: a simulated projector on a pseudo-terminal.
// Prints the device path; hand it to the panel with --com1.
#include "tools/sim/pty_projector.h"
#include "ui/exit_signals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvik-projector-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated projector on a pseudo-terminal. It prints the device path; "
                       "start the panel on it with 'orvik-control --com1 PATH'."));
    parser.addHelpOption();
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Never answer."));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Wait <ms> before each reply."),
                                   QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Write each reply in two pieces, the first "
                                                  "<n> bytes long."),
                                   QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption gap(QStringLiteral("split-gap"), QStringLiteral("Wait <ms> between the two pieces."),
                                 QStringLiteral("ms"), QStringLiteral("20"));
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Also make <path> a symlink to the device."),
                                  QStringLiteral("path"));
    parser.addOptions({silent, delay, split, gap, link});
    parser.process(app);

    orvik::sim::PtyProjector::Options options;
    options.silent = parser.isSet(silent);
    options.delay = std::chrono::milliseconds(parser.value(delay).toInt());
    options.splitAt = parser.value(split).toInt();
    options.splitGap = std::chrono::milliseconds(parser.value(gap).toInt());

    orvik::sim::PtyProjector projector(options);
    if (!projector.isValid()) {
        std::fprintf(stderr, "orvik-projector-sim: cannot open a pseudo-terminal: %s\n",
                     qPrintable(projector.errorString()));
        return 1;
    }
    QString linkPath;
    if (parser.isSet(link)) {
        linkPath = parser.value(link);
        QFile::remove(linkPath);
        if (!QFile::link(projector.devicePath(), linkPath)) {
            std::fprintf(stderr, "orvik-projector-sim: cannot create %s\n", qPrintable(linkPath));
            return 1;
        }
    }
    std::printf("%s\n", qPrintable(projector.devicePath()));
    std::fflush(stdout);

    // End cleanly on the usual signals so that the link is removed.
    orvik::quitOnTerminationSignals();
    const int code = QCoreApplication::exec();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
    return code;
}
