// orvik-projector-sim: simulated projectors, one pseudo-terminal each.
// Prints each device path; hand one to the panel with --com1.
#include "core/event_dispatcher.h"
#include "core/exit_signals.h"
#include "core/process_limits.h"
#include "tools/sim/pty_projector.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char* argv[])
{
    orvik::useEventLoopOfHeadlessPrograms(); // two thousand ptys cost only their bytes
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvik-projector-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated projectors, one pseudo-terminal each. It prints each device path: start the "
                       "panel on one with 'orvik-control --com1 PATH'."));
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
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make <path> a symlink to the device; with --count, "
                                                 "<path>1 to <path>N."),
                                  QStringLiteral("path"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Simulate <n> projectors."),
                                   QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption hours(QStringLiteral("hours"), QStringLiteral("Lamp hours L-TIME reports."),
                                   QStringLiteral("h"), QStringLiteral("1234"));
    const QCommandLineOption warmUp(QStringLiteral("warm-up"),
                                    QStringLiteral("After power-on STATUS says count down for <ms>."),
                                    QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption coolDown(QStringLiteral("cool-down"),
                                      QStringLiteral("After power-off STATUS says cooling down for <ms>."),
                                      QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Append every byte the projectors receive to <file>."),
                                    QStringLiteral("file"));
    parser.addOptions({silent, delay, split, gap, link, count, hours, warmUp, coolDown, record});
    parser.process(app);

    orvik::sim::PtyProjector::Options options;
    options.silent = parser.isSet(silent);
    options.delay = std::chrono::milliseconds(parser.value(delay).toInt());
    options.splitAt = parser.value(split).toInt();
    options.splitGap = std::chrono::milliseconds(parser.value(gap).toInt());
    options.record = false; // nobody reads it here
    options.hours = parser.value(hours).toInt();
    options.warmUp = std::chrono::milliseconds(parser.value(warmUp).toInt());
    options.coolDown = std::chrono::milliseconds(parser.value(coolDown).toInt());
    bool countOk = false;
    const int n = parser.value(count).toInt(&countOk);
    if (!countOk || n < 1 || n > 10000) {
        std::fprintf(stderr, "orvik-projector-sim: --count takes a number from 1 to 10000\n");
        return 2;
    }

    orvik::raiseOpenFilesLimit(); // two descriptors a projector
    QFile recording(parser.value(record));
    if (parser.isSet(record) && !recording.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "orvik-projector-sim: cannot write %s\n", qPrintable(recording.fileName()));
        return 1;
    }
    std::vector<std::unique_ptr<orvik::sim::PtyProjector>> projectors;
    QStringList links;
    int status = 0;
    for (int i = 1; i <= n && status == 0; ++i) {
        auto projector = std::make_unique<orvik::sim::PtyProjector>(options);
        if (!projector->isValid()) {
            std::fprintf(stderr, "orvik-projector-sim: cannot open a pseudo-terminal: %s\n",
                         qPrintable(projector->errorString()));
            status = 1;
            break;
        }
        if (parser.isSet(link)) {
            const QString path = parser.value(link) + (n > 1 ? QString::number(i) : QString());
            QFile::remove(path);
            if (!QFile::link(projector->devicePath(), path)) {
                std::fprintf(stderr, "orvik-projector-sim: cannot create %s\n", qPrintable(path));
                status = 1;
                break;
            }
            links.append(path);
        }
        if (recording.isOpen())
            QObject::connect(projector.get(), &orvik::sim::PtyProjector::bytesReceived, &recording,
                             [&recording](const QByteArray& bytes) { recording.write(bytes); });
        std::printf("%s\n", qPrintable(projector->devicePath()));
        projectors.push_back(std::move(projector));
    }
    std::fflush(stdout);

    if (status == 0) {
        // End cleanly on the usual signals so that the links are removed.
        orvik::quitOnTerminationSignals();
        status = QCoreApplication::exec();
    }
    for (const QString& path : links)
        QFile::remove(path);
    return status;
}
