#include "pocket.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <pthread.h>

namespace {

// Far above any serial line; keeps the token arithmetic well inside 64 bits.
constexpr qint64 maxRate = 100'000'000;

[[nodiscard]] std::optional<qint64> parseCount(const QCommandLineParser& parser,
                                               const QString& name, qint64 minimum, qint64 maximum,
                                               bool* ok)
{
    if (!parser.isSet(name))
        return std::nullopt;
    bool valid = false;
    const qint64 value = parser.value(name).toLongLong(&valid);
    if (!valid || value < minimum || value > maximum) {
        std::fprintf(stderr, "kibro-pocket: --%s needs an integer from %lld to %lld\n",
                     qPrintable(name), static_cast<long long>(minimum),
                     static_cast<long long>(maximum));
        *ok = false;
    }
    return value;
}

[[nodiscard]] std::optional<QByteArray> parseHex(const QString& text)
{
    const QByteArray latin = text.toLatin1();
    const bool digitsOnly = std::all_of(latin.begin(), latin.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
    if (latin.isEmpty() || latin.size() % 2 != 0 || !digitsOnly)
        return std::nullopt;
    return QByteArray::fromHex(latin);
}

} // namespace

int main(int argc, char* argv[])
{
    // Blocked before anything could start a thread, so only the signalfd ever sees them.
    const sigset_t blocked = terminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kibro-pocket"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated pocket computer on a pseudo-terminal, for tests and demos."));
    parser.addHelpOption();
    const auto option = [&](const char* name, const char* value, const char* help) {
        parser.addOption(
            {QString::fromLatin1(name), QString::fromLatin1(help), QString::fromLatin1(value)});
    };
    option("link", "path", "Make <path> a symlink to the slave device.");
    option("out", "file", "Append every received byte to <file>.");
    option("times", "file", "Write each byte's arrival time in microseconds to <file>.");
    option("rate", "bytes/s", "Receive no faster than this (0: no limit).");
    option("answer-after", "n", "Send the --answer bytes once n bytes have arrived.");
    option("answer", "hex", "Bytes to send, as hex digits, e.g. 0d0a.");
    option("answer-delay", "ms", "Send the answer this long after it is due.");
    option("close-after", "n", "After n bytes, hang up the line and exit.");
    option("exit-after", "n", "After n bytes, exit.");
    parser.addOption({QStringLiteral("flood"),
                      QStringLiteral("Send bytes without pause, as a pocket computer left printing "
                                     "to the port would.")});
    option("flood-rate", "bytes/s",
           "Flood no faster than this (0: as fast as the pty takes them).");
    option("flood-bytes", "n", "Stop flooding after n bytes and say \"flood done n\".");
    option("send", "file",
           "Send the file's bytes, as a pocket computer saving to the line would; say \"send "
           "done n\" after the last.");
    option("send-rate", "bytes/s", "Send no faster than this: the line rate (0: no limit).");
    parser.addOption(
        {QStringLiteral("send-on-signal"), QStringLiteral("Start the send when SIGUSR2 comes.")});
    option("pause-every", "n", "Pause the send after every n bytes.");
    option("pause", "ms", "How long each pause lasts.");

    parser.process(app);

    bool ok = true;
    PocketOptions options;
    options.linkPath = parser.value(QStringLiteral("link"));
    options.outPath = parser.value(QStringLiteral("out"));
    options.timesPath = parser.value(QStringLiteral("times"));
    options.rate = parseCount(parser, QStringLiteral("rate"), 0, maxRate, &ok).value_or(0);
    constexpr qint64 maxCount = qint64(1) << 53;
    options.answerAfter = parseCount(parser, QStringLiteral("answer-after"), 0, maxCount, &ok);
    options.answerDelay = std::chrono::milliseconds(
        parseCount(parser, QStringLiteral("answer-delay"), 0, 3'600'000, &ok).value_or(0));
    options.closeAfter = parseCount(parser, QStringLiteral("close-after"), 1, maxCount, &ok);
    options.exitAfter = parseCount(parser, QStringLiteral("exit-after"), 1, maxCount, &ok);
    options.floodRate =
        parseCount(parser, QStringLiteral("flood-rate"), 0, maxRate, &ok).value_or(0);
    options.floodBytes = parseCount(parser, QStringLiteral("flood-bytes"), 1, maxCount, &ok);
    options.flood = parser.isSet(QStringLiteral("flood"));
    if (!options.flood && (parser.isSet(QStringLiteral("flood-rate")) ||
                           parser.isSet(QStringLiteral("flood-bytes")))) {
        std::fprintf(stderr, "kibro-pocket: --flood-rate and --flood-bytes need --flood\n");
        ok = false;
    }
    if (parser.isSet(QStringLiteral("send"))) {
        QFile file(parser.value(QStringLiteral("send")));
        if (options.flood || !file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "kibro-pocket: --send needs a readable file and no --flood\n");
            ok = false;
        }
        options.send = file.readAll();
        options.flood = true;
        options.floodBytes = options.send->size();
        options.floodRate =
            parseCount(parser, QStringLiteral("send-rate"), 0, maxRate, &ok).value_or(0);
        options.sendOnSignal = parser.isSet(QStringLiteral("send-on-signal"));
        options.pauseEvery =
            parseCount(parser, QStringLiteral("pause-every"), 1, maxCount, &ok).value_or(0);
        options.pause = std::chrono::milliseconds(
            parseCount(parser, QStringLiteral("pause"), 0, 3'600'000, &ok).value_or(0));
    }
    if (parser.isSet(QStringLiteral("answer"))) {
        const auto answer = parseHex(parser.value(QStringLiteral("answer")));
        if (!answer) {
            std::fprintf(stderr, "kibro-pocket: --answer needs an even number of hex digits\n");
            ok = false;
        }
        options.answer = answer.value_or(QByteArray());
        if (!options.answerAfter)
            options.answerAfter = 0;
    } else if (options.answerAfter) {
        std::fprintf(stderr, "kibro-pocket: --answer-after needs --answer\n");
        ok = false;
    }
    if (!ok || !parser.positionalArguments().isEmpty())
        return 2;

    Pocket pocket(std::move(options));
    return pocket.run();
}
