// orvik-send: the panel's commands from scripts and schedules, on one port
// or on many at once, with no display.
#include "control_socket/messages.h"
#include "control_socket/service_client.h"
#include "core/clock.h"
#include "core/event_dispatcher.h"
#include "core/exit_signals.h"
#include "core/logging.h"
#include "core/process_limits.h"
#include "headless/command_line.h"
#include "headless/metrics.h"
#include "headless/ports_file.h"
#include "headless/service_line.h"
#include "link/line_settings.h"
#include "link/port_map.h"
#include "protocol/command_words.h"
#include "protocol/outcome.h"
#include "protocol/status_queries.h"
#include "send/fleet.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

using namespace orvik;

namespace {

constexpr const char* kAbout =
    "Sends projector commands over RS-232C, to one port or many at once, and prints the replies.";

constexpr const char* kExitCodes = R"(
Commands:
  power-on power-off input-pc input-video audio-mute-on audio-mute-off
  video-mute-on video-mute-off screen-normal screen-wide menu-on menu-off
  freeze-on freeze-off a-image p-timer normal display-clear c01
  Holds, one step each, or NAME:N for N steps at the panel's repeat period:
  vol-up vol-down bright-up bright-down zoom-up zoom-down keystone-up
  keystone-down up down left right select
  Queries: status mode l-time setting
  raw:CODE  any code: C and two upper-case hex digits, or CR and a digit

DEVICE is a serial device path, COM1 or COM2 (as orvik-control chooses them:
ORVIK_COM1/ORVIK_COM2, then this machine's ports), rfc2217://HOST:PORT or
tcp://HOST:PORT. A ports file has one "NAME DEVICE" a line; # starts a comment.

Exit status:
  0  every command was answered as expected
  1  a reply was missing, unexpected or not understood (or --until timed out)
  2  usage error; nothing was sent
  3  a port could not be opened or was lost (the others were still served)
The highest applies.

A port that orvik-gateway or orvik-mqtt holds is reached through it: the
commands join that projector's queue there, with its reply time-out. Its
socket is ORVIK_CONTROL_SOCKET, or /run/orvik/gateway.sock.
)";

void printLine(FILE* to, const QByteArray& line)
{
    const QByteArray whole = line + '\n';
    std::fwrite(whole.constData(), 1, size_t(whole.size()), to); // one write a line: never interleaved
    std::fflush(to);
}

} // namespace

int main(int argc, char* argv[])
{
    useEventLoopOfHeadlessPrograms(); // a thousand ports cost only their events
    QCoreApplication app(argc, argv);
    CommandLine line(QStringLiteral("orvik-send"), QLatin1String(kAbout), QLatin1String(kExitCodes));
    QCommandLineParser& parser = line.parser();
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("Commands, run in order on every port."),
                                 QStringLiteral("COMMAND..."));
    const QCommandLineOption port(
        {QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("A projector's port, NAME=DEVICE or DEVICE; repeatable. Default COM1."),
        QStringLiteral("[NAME=]DEVICE"));
    const QCommandLineOption gap(QStringLiteral("gap"), QStringLiteral("Wait MS after each reply (default 0)."),
                                 QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption parallel(QStringLiteral("parallel"),
                                      QStringLiteral("Keep at most N ports open at once (default: all)."),
                                      QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON Lines, one object a result."));
    const QCommandLineOption until(QStringLiteral("until"),
                                   QStringLiteral("After the commands, ask status once a second until the power "
                                                  "state is STATE (on, standby, count_down, cooling_down...)."),
                                   QStringLiteral("STATE"));
    const QCommandLineOption within(QStringLiteral("within"),
                                    QStringLiteral("Give up --until after SECONDS (default 120)."),
                                    QStringLiteral("SECONDS"), QStringLiteral("120"));
    const QCommandLineOption prometheus(QStringLiteral("prometheus"),
                                        QStringLiteral("Write the results to FILE for node_exporter's textfile "
                                                       "collector."),
                                        QStringLiteral("FILE"));
    line.add({port, gap, parallel, json, until, within, prometheus});
    if (const auto status = line.parse())
        return *status;
    const auto usage = [&line](const QString& message) { return line.usage(message); };

    Plan plan;
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty() && !parser.isSet(until))
        return usage(
            QStringLiteral("no command given; the commands are: %1").arg(commandWordList().join(QStringLiteral(", "))));
    for (const QString& word : words) {
        auto parsed = parseCommand(word);
        if (const QString* error = std::get_if<QString>(&parsed))
            return usage(*error);
        plan.commands.append(std::get<Command>(parsed));
    }
    const auto settings = line.lineSettings();
    if (const QString* error = std::get_if<QString>(&settings))
        return usage(*error);
    plan.settings = std::get<LineSettings>(settings);
    const auto gapMs = line.number(gap, 0, 3'600'000);
    if (!gapMs)
        return usage(QStringLiteral("--gap takes milliseconds from 0 to 3600000"));
    plan.gap = Millis(*gapMs);
    const auto timeout = line.replyTimeout();
    if (const QString* error = std::get_if<QString>(&timeout))
        return usage(*error);
    plan.replyTimeout = std::get<Millis>(timeout);
    const auto most = line.number(parallel, 0, 1'000'000);
    if (!most)
        return usage(QStringLiteral("--parallel takes a number of ports, 0 for all"));
    plan.parallel = *most;
    const auto seconds = line.number(within, 1, 86'400);
    if (!seconds)
        return usage(QStringLiteral("--within takes seconds from 1 to 86400"));
    plan.within = std::chrono::seconds(*seconds);
    if (parser.isSet(until)) {
        plan.untilState = parser.value(until);
        const QStringList powerStates = stateKeys(queries::kPower);
        if (!powerStates.contains(plan.untilState))
            return usage(QStringLiteral("--until takes a power state: %1").arg(powerStates.join(QStringLiteral(", "))));
    }

    auto read = line.ports();
    if (const QString* error = std::get_if<QString>(&read))
        return usage(*error);
    QList<NamedPort> ports = std::get<QList<NamedPort>>(read);
    for (const QString& given : parser.values(port)) {
        const qsizetype equals = given.indexOf(u'=');
        // A device path may hold '=', a name never holds '/' or ':'.
        const bool named = equals > 0 && !given.left(equals).contains(u'/') && !given.left(equals).contains(u':');
        ports.append({named ? given.left(equals) : given, named ? given.mid(equals + 1) : given, 0});
    }
    if (ports.isEmpty())
        ports.append({QStringLiteral("COM1"), QStringLiteral("COM1"), 0});
    QSet<QString> names;
    for (const NamedPort& p : ports) {
        if (names.contains(p.name))
            return usage(QStringLiteral("the name %1 is used twice").arg(p.name));
        names.insert(p.name);
    }
    resolveComPorts(ports);

    const std::size_t openAtOnce =
        plan.parallel > 0 ? std::min<std::size_t>(plan.parallel, std::size_t(ports.size())) : std::size_t(ports.size());
    if (const auto tooFew = raiseOpenFilesLimit(kSpareDescriptors + kDescriptorsPerPort * openAtOnce)) {
        std::fprintf(stderr, "orvik-send: %lld ports at once: %s, or open fewer at once with --parallel\n",
                     static_cast<long long>(openAtOnce), qPrintable(*tooFew));
        return int(ExitStatus::PortFailed);
    }
    quitOnTerminationSignals();

    const bool asJson = parser.isSet(json);
    const bool several = ports.size() > 1;
    const bool bare = !several && plan.commands.size() + (plan.untilState.isEmpty() ? 0 : 1) == 1;
    Metrics metrics;
    for (const NamedPort& p : ports)
        metrics.add(p.name);
    Results results;
    results.result = [&](const NamedPort& p, const Command& command, const Outcome& outcome) {
        metrics.record(p.name, command, outcome);
        if (asJson) {
            printLine(stdout, QJsonDocument(toJson(p.name, p.device, command, outcome)).toJson(QJsonDocument::Compact));
            return;
        }
        if (outcome.portFailed)
            return; // said once, on standard error
        QString line = bare ? resultText(outcome) : command.text + u' ' + resultText(outcome);
        if (several)
            line.prepend(p.name + u' ');
        printLine(stdout, line.toUtf8());
    };
    results.portFailed = [](const NamedPort&, const QString& failure) { qCWarning(lcLink).noquote() << failure; };

    // Ports the service holds are reached through it.
    using namespace std::chrono_literals;
    QString refused;
    const std::unique_ptr<control::ServiceClient> service =
        control::ServiceClient::connect(control::socketPath(), 3s, &refused);
    if (!refused.isEmpty())
        qCWarning(lcControl).noquote() << refused;
    const LineMaker makeLine = [&service](const NamedPort& p, const Plan& plan,
                                          Clock& clock) -> std::unique_ptr<ProjectorLine> {
        if (service)
            if (const auto device = service->holds(p.device))
                return std::make_unique<ServiceLine>(p, *device, *service);
        return ownPort(p, plan, clock);
    };

    TimerClock clock; // hundreds of alarms: no descriptor each
    Fleet fleet(ports, plan, clock, results, makeLine);
    QObject::connect(
        &fleet, &Fleet::finished, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    bool done = false;
    QObject::connect(&fleet, &Fleet::finished, &app, [&done] { done = true; });
    fleet.start();
    QCoreApplication::exec();
    // A signal ends the run early: the ports close as the fleet goes, and
    // what was not answered counts as not answered.
    const int status = std::max(int(fleet.exitStatus()), done ? 0 : int(ExitStatus::Unanswered));

    if (parser.isSet(prometheus)) {
        QString error;
        if (!metrics.write(parser.value(prometheus), &error)) {
            qCWarning(lcSend).noquote() << QStringLiteral("cannot write %1").arg(error);
            return std::max(status, int(ExitStatus::Unanswered));
        }
    }
    return status;
}
