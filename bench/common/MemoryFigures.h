#pragma once

// Resident memory of this process, from /proc/self/status, for benchmarks that report what a
// run cost in memory as well as in time.

#include <QByteArray>
#include <QFile>

#include <cstdio>

namespace brevlin::bench {

// The value of a "Vm…" line in kB, or -1.
inline long statusKilobytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

inline long residentKilobytes() {
    return statusKilobytes("VmRSS");
}

inline long peakResidentKilobytes() {
    return statusKilobytes("VmHWM");
}

// Starts a new peak: the kernel sets VmHWM back to the current resident size.
inline void resetPeak() {
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

} // namespace brevlin::bench
