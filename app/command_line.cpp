#include "app/command_line.h"

#include "link/port_map.h"

#include <QCommandLineParser>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace orvik {
namespace {

// Qt's own arguments, taken by QApplication; those in the first list take a value.
constexpr const char* kQtArgumentsWithValue[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "name",          "title",   "visual",
    "ncols",       "qmljsdebugger"};
constexpr const char* kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The argument's name after one or two dashes, or nothing.
const char* optionName(const char* arg)
{
    if (arg[0] != '-')
        return nullptr;
    return arg[1] == '-' ? arg + 2 : arg + 1;
}

template <std::size_t N> bool among(const char* name, const char* const (&list)[N])
{
    for (const char* entry : list)
        if (std::strcmp(name, entry) == 0)
            return true;
    return false;
}

QString helpText(const QCommandLineParser& parser)
{
    // Parsed before the application exists, Qt cannot name the program itself.
    return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("orvik-control"))
           + QStringLiteral(R"(
Environment:
  ORVIK_COM1, ORVIK_COM2   The device of COM1 or COM2 when --com1 or --com2
                           is not given.

Without either, COM1 and COM2 are the first and second serial ports this
machine has: on-board ports (ttyS*) before USB adapters (ttyUSB*, ttyACM*),
numbered in order. On a machine with none they are /dev/ttyS0 and /dev/ttyS1.
Every start opens COM1 at 19200 baud, 8 data bits, no parity, 1 stop bit.
A DEVICE may also be a serial device server on the network:
rfc2217://HOST:PORT (the panel sets the server's line) or tcp://HOST:PORT.
)");
}

} // namespace

std::variant<Options, int> readCommandLine(int argc, char* argv[])
{
    // Paths keep their bytes: the port values are taken from argv as they are.
    QStringList args{QString::fromLocal8Bit(argv[0])};
    std::array<QByteArray, 2> rawPorts;
    for (int i = 1; i < argc; ++i) {
        const char* name = optionName(argv[i]);
        if (name && among(name, kQtArgumentsWithValue)) {
            ++i; // the value, too, is Qt's
            continue;
        }
        if (name && among(name, kQtFlags))
            continue;
        for (std::size_t port = 0; port < rawPorts.size(); ++port) {
            const QByteArray option = "com" + QByteArray::number(port + 1);
            if (name && option == name && i + 1 < argc)
                rawPorts[port] = argv[i + 1];
            else if (name && QByteArray(name).startsWith(option + '='))
                rawPorts[port] = QByteArray(name).mid(option.size() + 1);
        }
        args.append(QString::fromLocal8Bit(argv[i]));
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Control panel for video projectors on an RS-232C serial line."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption com1(QStringLiteral("com1"), QStringLiteral("Use DEVICE as COM1."),
                                  QStringLiteral("DEVICE"));
    const QCommandLineOption com2(QStringLiteral("com2"), QStringLiteral("Use DEVICE as COM2."),
                                  QStringLiteral("DEVICE"));
    parser.addOptions({help, version, com1, com2});
    if (!parser.parse(args)) {
        std::fprintf(stderr, "orvik-control: %s\nTry 'orvik-control --help'.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "orvik-control: unexpected argument '%s'\nTry 'orvik-control --help'.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(helpText(parser)), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("orvik-control %s\n", ORVIK_VERSION);
        return 0;
    }
    Options options;
    for (std::size_t port = 0; port < rawPorts.size(); ++port)
        if (!rawPorts[port].isEmpty())
            options.ports[port] = devicePathFromBytes(rawPorts[port]);
    return options;
}

QString noDisplayHint(const char* argv0)
{
    // The command as it was given: build/orvik-control from a build tree,
    // orvik-control when installed.
    const QString self =
        QString::fromLocal8Bit(argv0).contains(u'/') ? QString::fromLocal8Bit(argv0) : QStringLiteral("orvik-control");
    QString hint = QStringLiteral("orvik-control: no display found (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                                  "Run it on a desktop, or through 'ssh -X', or on a virtual display:\n"
                                  "    xvfb-run -a %1\n")
                       .arg(self);
    if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty())
        hint += QStringLiteral("xvfb-run comes with the Debian package xvfb: apt-get install xvfb\n");
    return hint;
}

bool displayAvailable(int argc, char* argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (int i = 1; i < argc; ++i)
        if (const char* name = optionName(argv[i]); name && std::strcmp(name, "platform") == 0)
            return true;
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return true;
#endif
}

} // namespace orvik
