#include "headless/options.h"

#include <QStringList>

namespace orvik {

QString optionNames(const QList<QCommandLineOption>& options)
{
    QStringList names;
    for (const QCommandLineOption& option : options)
        for (const QString& name : option.names())
            if (name.size() > 1)
                names.append(QStringLiteral("--") + name);
    return names.join(QStringLiteral(", "));
}

} // namespace orvik
