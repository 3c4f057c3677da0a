#pragma once

#include "core/clock.h"
#include "headless/ports_file.h"
#include "link/line_settings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace orvik {

// The command line of a headless program: --help (the options, then more
// text of the program's), --version, --ports-file, --speed and --timeout, and usage
// errors said one way, under the program's own name. Made first in main():
// it names the application and sets up its messages.
class CommandLine {
public:
    // Exit status of a usage error: nothing was done.
    static constexpr int kUsage = 2;

    CommandLine(QString program, const QString& description, QString moreHelp);

    const QCommandLineOption portsFile;
    const QCommandLineOption speed;
    const QCommandLineOption timeout;

    // The program's own options, after the shared ones.
    void add(const QList<QCommandLineOption>& options);
    QCommandLineParser& parser() { return parser_; }
    const QCommandLineParser& parser() const { return parser_; }
    bool isSet(const QCommandLineOption& option) const { return parser_.isSet(option); }
    QString value(const QCommandLineOption& option) const { return parser_.value(option); }

    // Parses the arguments (by default the application's). An exit status
    // when the program ends here: 0 after --help or --version, kUsage after a
    // usage error.
    std::optional<int> parse(const QStringList& arguments = QCoreApplication::arguments());
    // "PROGRAM: message" and where to look, on standard error; kUsage.
    int usage(const QString& message) const;

    // --speed as line settings, or the usage error's text.
    std::variant<LineSettings, QString> lineSettings() const;
    // --timeout, the longest wait for a reply, or the usage error's text.
    std::variant<Millis, QString> replyTimeout() const;
    // A whole-number option from low to high, if it is one.
    std::optional<int> number(const QCommandLineOption& option, int low, int high) const;
    // The ports of --ports-file, or the error with its line number.
    std::variant<QList<NamedPort>, QString> ports() const;

private:
    QString program_;
    QString moreHelp_;
    QCommandLineParser parser_;
    QList<QCommandLineOption> options_;
};

} // namespace orvik
