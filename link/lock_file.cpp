#include "link/lock_file.h"

#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace orvik {

LockHolder readLockFile(const QByteArray& content)
{
    LockHolder holder;
    const bool text = std::all_of(content.begin(), content.end(), [](char c) {
        return c == '\n' || c == '\r' || c == '\t' || (c >= 0x20 && c < 0x7f);
    });
    if (!text && content.size() == 4) {
        std::int32_t pid = 0;
        std::memcpy(&pid, content.constData(), sizeof pid);
        holder.pid = pid > 0 ? pid : 0;
        return holder;
    }
    const QList<QByteArray> lines = content.split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0)
        return holder;
    holder.pid = pid;
    if (lines.size() > 1)
        holder.program = QString::fromUtf8(lines[1].trimmed());
    return holder;
}

qint64 flockHolder(const QByteArray& procLocks, unsigned major, unsigned minor, quint64 inode)
{
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; blocked waiters are
    // listed as "1: -> FLOCK ...", and are not holders.
    // A program that opens hundreds of ports holds hundreds of locks: only
    // the lines that name the file are taken apart.
    const QByteArray file = ' ' + QByteArray::number(major, 16).rightJustified(2, '0') + ':'
                            + QByteArray::number(minor, 16).rightJustified(2, '0') + ':' + QByteArray::number(inode)
                            + ' ';
    for (qsizetype at = procLocks.indexOf(file); at >= 0; at = procLocks.indexOf(file, at + 1)) {
        const qsizetype start = procLocks.lastIndexOf('\n', at) + 1;
        const qsizetype end = procLocks.indexOf('\n', at);
        const QList<QByteArray> fields = procLocks.mid(start, end < 0 ? -1 : end - start).simplified().split(' ');
        if (fields.size() < 6 || fields[1] != "FLOCK")
            continue;
        bool ok = false;
        const qint64 pid = fields[4].toLongLong(&ok);
        if (ok && pid > 0)
            return pid;
    }
    return 0;
}

} // namespace orvik
