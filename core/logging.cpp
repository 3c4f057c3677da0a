#include "core/logging.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>

Q_LOGGING_CATEGORY(lcLink, "orvik.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcExchange, "orvik.exchange", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMqtt, "orvik.mqtt", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPjlink, "orvik.pjlink", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSend, "orvik.send", QtInfoMsg)
Q_LOGGING_CATEGORY(lcControl, "orvik.control", QtInfoMsg)

namespace orvik {
namespace {

QtMessageHandler qtHandler = nullptr;

// A message of several lines (a failure and its remedy) is folded into one,
// so that a journal keeps it whole.
void oneLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QString text = message;
    text.replace(QLatin1String("\n"), QLatin1String(" "));
    qtHandler(type, context, text);
}

} // namespace

void useOneLineMessages()
{
    qSetMessagePattern(QStringLiteral("%{appname}: %{message}"));
    qtHandler = qInstallMessageHandler(oneLine);
}

} // namespace orvik
