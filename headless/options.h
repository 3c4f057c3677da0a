#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

namespace orvik {

// "--port, --ports-file, ...": the options a command line takes, for an
// error about one it does not.
QString optionNames(const QList<QCommandLineOption>& options);

} // namespace orvik
