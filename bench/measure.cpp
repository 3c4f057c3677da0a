#include "bench/measure.h"

#include <QFile>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvik::bench {

void runFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = std::size_t(std::ceil(p / 100.0 * double(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

void row(const QString& measure, const QString& result, const QString& target)
{
    std::printf("| %s | %s | %s |\n", qPrintable(measure), qPrintable(result), qPrintable(target));
}

QString writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

} // namespace orvik::bench
