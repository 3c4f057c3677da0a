#include "headless/command_line.h"

#include "core/logging.h"
#include "link/port_map.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>

namespace orvik {

CommandLine::CommandLine(QString program, const QString& description, QString moreHelp)
    : portsFile(QStringLiteral("ports-file"), QStringLiteral("The projectors: one NAME DEVICE line each in FILE."),
                QStringLiteral("FILE"))
    , speed(QStringLiteral("speed"), QStringLiteral("19200 or 9600 baud (default 19200)."), QStringLiteral("BAUD"),
            QStringLiteral("19200"))
    , timeout(QStringLiteral("timeout"),
              QStringLiteral("Wait at most MS for a reply (default 500); a projector that is warming up may take "
                             "longer."),
              QStringLiteral("MS"), QStringLiteral("500"))
    , program_(std::move(program))
    , moreHelp_(std::move(moreHelp))
{
    QCoreApplication::setApplicationName(program_);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));
    useOneLineMessages();
    parser_.setApplicationDescription(description);
    add({QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")),
         QCommandLineOption(QStringLiteral("version"), QStringLiteral("Show the version and exit.")), portsFile, speed,
         timeout});
}

void CommandLine::add(const QList<QCommandLineOption>& options)
{
    parser_.addOptions(options);
    options_ += options;
}

std::optional<int> CommandLine::parse(const QStringList& arguments)
{
    if (!parser_.parse(arguments)) {
        QStringList names;
        for (const QCommandLineOption& option : options_)
            for (const QString& name : option.names())
                if (name.size() > 1)
                    names.append(QStringLiteral("--") + name);
        return usage(parser_.errorText() + QStringLiteral(" The options are: ") + names.join(QStringLiteral(", "))
                     + u'.');
    }
    if (parser_.isSet(QStringLiteral("help"))) {
        // The usage line names the program, not the path it was started by.
        static const QRegularExpression usageLine(QStringLiteral("^Usage: \\S+"));
        QString text = parser_.helpText();
        text.replace(usageLine, QStringLiteral("Usage: ") + program_);
        std::fputs(qPrintable(text + moreHelp_), stdout);
        return 0;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(program_), qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    return std::nullopt;
}

int CommandLine::usage(const QString& message) const
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(program_), qPrintable(message), qPrintable(program_));
    return kUsage;
}

std::variant<LineSettings, QString> CommandLine::lineSettings() const
{
    if (const auto settings = panelSettingsAt(parser_.value(speed)))
        return *settings;
    return QStringLiteral("--speed is 19200 or 9600, not '%1'").arg(parser_.value(speed));
}

std::variant<Millis, QString> CommandLine::replyTimeout() const
{
    if (const auto ms = number(timeout, 1, 60'000))
        return Millis(*ms);
    return QStringLiteral("--timeout takes milliseconds from 1 to 60000");
}

std::optional<int> CommandLine::number(const QCommandLineOption& option, int low, int high) const
{
    bool ok = false;
    const int value = parser_.value(option).toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::variant<QList<NamedPort>, QString> CommandLine::ports() const
{
    if (!parser_.isSet(portsFile))
        return QList<NamedPort>();
    return readPortsFile(parser_.value(portsFile));
}

} // namespace orvik
