#include "bench/process_stats.h"

#include <QFile>

#include <sys/resource.h>

namespace orvik::bench {
namespace {

long statusField(const char* name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(int(qstrlen(name))).trimmed().split(' ').front().toLong();
    return -1;
}

} // namespace

std::chrono::microseconds cpuTime()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

long residentKb() { return statusField("VmRSS:"); }
long peakResidentKb() { return statusField("VmHWM:"); }

} // namespace orvik::bench
