#include "tools/sim/run_program.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace orvik::sim {

ProgramRun runWhileServing(const QString& program, const QStringList& args, std::chrono::milliseconds within,
                           const QByteArray& input, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer::singleShot(within, &loop, &QEventLoop::quit);
    process.start(program, args);
    if (!input.isEmpty()) {
        process.write(input);
        process.closeWriteChannel();
    }
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    ProgramRun run;
    run.ended = process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = run.ended ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace orvik::sim
