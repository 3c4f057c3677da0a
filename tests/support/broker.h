#pragma once

// What the end-to-end tests of the service share: tools found where Debian
// puts them, programs run while simulators serve, waits by the clock, and a
// mosquitto of the test's own on 127.0.0.1.
#include "tests/support/loopback.h"
#include "tools/sim/run_program.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <pwd.h>
#include <unistd.h>

namespace orvik::test {

inline QString tool(const char* name)
{
    return QStandardPaths::findExecutable(QLatin1String(name),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

// Writes a file of the test's own; its path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return file.fileName();
}

// Runs a tool to its end while this event loop serves the projectors.
inline QByteArray output(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    return sim::runWhileServing(program, args, std::chrono::seconds(20), input).out;
}

// Asks again and again (each asking runs the event loop) until it holds or
// `within` has passed: a QTRY loop counts its turns, not the time they take.
inline bool until(const std::function<bool()>& holds, std::chrono::milliseconds within = std::chrono::seconds(15))
{
    QElapsedTimer waited;
    waited.start();
    while (!holds())
        if (waited.elapsed() > within.count())
            return false;
    return true;
}

class Broker {
public:
    // With a user and password, anonymous clients are refused.
    explicit Broker(const QString& user = {}, const QString& password = {})
        : port_(freePort())
    {
        QString text = QStringLiteral("listener %1 127.0.0.1\npersistence false\n").arg(port_);
        if (user.isEmpty()) {
            text += QStringLiteral("allow_anonymous true\n");
        } else {
            // mosquitto started as root reads its password file as the user mosquitto.
            QFile::setPermissions(dir_.path(), QFile::permissions(dir_.path()) | QFile::ExeOther | QFile::ReadOther);
            const QString passwords = dir_.filePath(QStringLiteral("passwords"));
            QProcess::execute(tool("mosquitto_passwd"),
                              {QStringLiteral("-c"), QStringLiteral("-b"), passwords, user, password});
            if (const passwd* account = ::getpwnam("mosquitto")) [[maybe_unused]]
                const int ignored = ::chown(QFile::encodeName(passwords).constData(), account->pw_uid, account->pw_gid);
            text += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords);
        }
        QFile config(dir_.filePath(QStringLiteral("mosquitto.conf")));
        config.open(QIODevice::WriteOnly);
        config.write(text.toUtf8());
    }
    ~Broker() { stop(); }
    bool start()
    {
        process_.start(tool("mosquitto"), {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
        return listensSoon(port_);
    }
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            process_.waitForFinished(5000);
        }
    }
    QString port() const { return QString::number(port_); }

private:
    QTemporaryDir dir_;
    quint16 port_ = 0;
    QProcess process_;
};

} // namespace orvik::test
