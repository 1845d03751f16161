#include "testdata.h"

#include <QRandomGenerator>

#include <sys/resource.h>

namespace testdata {

QString openFailedText(int port)
{
    return QStringLiteral("COM%1が開けません。").arg(port);
}

QString reopenFailedText(int port)
{
    return QStringLiteral("COM%1が開けませんでした。").arg(port);
}

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(static_cast<char>(value));
    return bytes;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    auto* generator = QRandomGenerator::global();
    for (char& byte : bytes)
        byte = static_cast<char>(generator->bounded(256));
    return bytes;
}

QString prefixProblem(const QByteArray& received, const QByteArray& file)
{
    if (received.size() > file.size())
        return QStringLiteral("received %1 bytes of a %2-byte file")
            .arg(received.size())
            .arg(file.size());
    if (!file.startsWith(received)) {
        qsizetype at = 0;
        while (at < received.size() && received[at] == file[at])
            ++at;
        return QStringLiteral("received bytes differ from the file at offset %1").arg(at);
    }
    return {};
}

std::chrono::milliseconds processCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return std::chrono::duration_cast<std::chrono::milliseconds>(micros(usage.ru_utime) +
                                                                 micros(usage.ru_stime));
}

} // namespace testdata
