#pragma once

#include <QString>

#include <array>
#include <variant>

namespace orvik {

struct Options {
    std::array<QString, 2> ports; // --com1, --com2; empty when not given
};

// Reads the command line. --help and --version are answered on standard
// output and a mistake on standard error, without a display; each gives the
// exit status to end with. Qt's own arguments (-platform and the like) are
// left to the application object.
std::variant<Options, int> readCommandLine(int argc, char* argv[]);

// Whether Qt was told where to show the window (-platform, QT_QPA_PLATFORM)
// or the session has a display.
bool displayAvailable(int argc, char* argv[]);
// What to do without one, naming the program as it was started.
QString noDisplayHint(const char* argv0);

} // namespace orvik
