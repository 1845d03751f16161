// Reading a file for sending: wall time and peak memory for one large file, as ratios to the
// file's size and to reading it through without keeping it. Run once per process, so that the peak
// belongs to this read alone:
//   kibro_fileread_bench [BYTES]   (default: the largest size a transfer can count)
// The file is sparse in a temporary directory: the disk is not measured, the copying is.
#include "readwhole.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <limits>

#include <sys/resource.h>
#include <unistd.h>

namespace {

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 size = std::numeric_limits<qint32>::max();
    if (argc > 1)
        size = QByteArray(argv[1]).toLongLong();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("LARGE.BIN"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
            return 1;
        }
    }
    const long before = peakResidentKiB();
    QElapsedTimer timer;
    timer.start();
    const kibro::FileRead read = kibro::readWholeFile(path);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const long peak = peakResidentKiB();

    // The floor on this machine at this moment: the same bytes through one small buffer, as
    // cat reads them, with nothing kept.
    timer.restart();
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        QByteArray buffer(128 * 1024, Qt::Uninitialized);
        while (file.read(buffer.data(), buffer.size()) > 0) {
        }
    }
    const double floor = timer.nsecsElapsed() / 1e9;
    const double mib = 1024.0 * 1024.0;
    std::printf("bytes %lld, read %s, size read %lld\n", static_cast<long long>(size),
                read.check == kibro::FileCheck::Ok ? "ok" : "refused",
                static_cast<long long>(read.bytes.size()));
    std::printf(
        "time %.3f s (%.0f MiB/s); reading through a 128 KiB buffer %.3f s: %.2f times that\n",
        seconds, size / mib / seconds, floor, seconds / floor);
    std::printf("peak resident %.0f MiB, of it for the read %.0f MiB: %.2f times the file\n",
                peak / 1024.0, (peak - before) / 1024.0, (peak - before) * 1024.0 / size);
    return read.check == kibro::FileCheck::Ok ? 0 : 1;
}
