#include "core/logging.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

Q_LOGGING_CATEGORY(lcLink, "orvik.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcExchange, "orvik.exchange", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMqtt, "orvik.mqtt", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPjlink, "orvik.pjlink", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSend, "orvik.send", QtInfoMsg)
Q_LOGGING_CATEGORY(lcControl, "orvik.control", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLoop, "orvik.loop", QtInfoMsg)

namespace orvik {
namespace {

// A message as it goes to journald: "<LEVEL>text" and a newline.
QByteArray journalLine(QtMsgType type, const QString& text)
{
    // syslog's levels, as journald reads them at the start of a line.
    char level = '6';
    switch (type) {
    case QtDebugMsg: level = '7'; break;
    case QtInfoMsg: level = '6'; break;
    case QtWarningMsg: level = '4'; break;
    case QtCriticalMsg: level = '3'; break;
    case QtFatalMsg: level = '2'; break;
    }
    return QByteArray("<") + level + '>' + text.toUtf8() + '\n';
}

QtMessageHandler qtHandler = nullptr;
bool toJournal = false;

// A message of several lines (a failure and its remedy) is folded into one,
// so that a journal keeps it whole.
void oneLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QString text = message;
    text.replace(QLatin1String("\n"), QLatin1String(" "));
    if (!toJournal)
        return qtHandler(type, context, text);
    const QByteArray line = journalLine(type, qFormatLogMessage(type, context, text));
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
    std::fflush(stderr);
}

// Whether stderr is the journal's stream that systemd set up (JOURNAL_STREAM
// is "DEVICE:INODE" of it), rather than a pipe or file it was redirected to.
bool stderrIsJournal()
{
#ifdef Q_OS_UNIX
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat info {};
    if (stream.isEmpty() || ::fstat(2, &info) != 0)
        return false;
    return stream == QByteArray::number(quint64(info.st_dev)) + ':' + QByteArray::number(quint64(info.st_ino));
#else
    return false;
#endif
}

} // namespace

void useOneLineMessages()
{
    qSetMessagePattern(QStringLiteral("%{appname}: %{message}"));
    toJournal = stderrIsJournal();
    qtHandler = qInstallMessageHandler(oneLine);
}

} // namespace orvik
