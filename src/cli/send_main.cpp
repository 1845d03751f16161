// kibro-send: the window's transfer from a terminal, for shells and Makefiles.
#include "commandline.h"
#include "fileread.h"
#include "terminal.h"
#include "terminalsend.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <limits>

namespace {

const char kName[] = "kibro-send";

// Standard input to its end, or why not.
bool readStandardInput(QByteArray& into, QString& reason)
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        reason = input.errorString();
        return false;
    }
    constexpr qint64 kPiece = qint64(1) << 20;
    while (true) {
        const QByteArray piece = input.read(kPiece);
        if (piece.isEmpty())
            break;
        if (into.size() + piece.size() > std::numeric_limits<qint32>::max()) {
            reason = kibro::tooLargeReason();
            return false;
        }
        into.append(piece);
    }
    if (input.error() != QFileDevice::NoError) {
        reason = input.errorString();
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    const bool inputClosed = kibro::terminal::takeClosedStandardInput();
    kibro::useQtEventLoop();
    QCoreApplication app(argc, argv);
    kibro::speakAs(kName);

    kibro::ProgramCommandLine line(
        kName,
        QStringLiteral("Sends FILE (or standard input, -) to an FX-890P pocket computer over "
                       "a serial line, paced as the pocket computer can take it. Port and rate "
                       "default to those chosen in KIBRO's settings window."),
        QStringLiteral("The file to send, or - for standard input."));
    if (const auto status = line.parse(QCoreApplication::arguments()))
        return *status;
    kibro::SendRequest request;
    request.file = line.file();
    request.quiet = line.quiet();
    request.port = line.port();
    // Read whole before the port is taken, as the window reads a file before its first byte.
    if (request.file == u"-") {
        if (inputClosed) {
            kibro::print(
                stderr, QStringLiteral("%1: standard input is closed\n").arg(QLatin1String(kName)));
            return static_cast<int>(kibro::SendStatus::FileError);
        }
        QString reason;
        if (!readStandardInput(request.input, reason)) {
            kibro::print(
                stderr,
                QStringLiteral("%1: standard input: %2\n").arg(QLatin1String(kName), reason));
            return static_cast<int>(kibro::SendStatus::FileError);
        }
    }

    kibro::TerminalSend send(std::move(request));
    QObject::connect(&send, &kibro::TerminalSend::done, &app,
                     [](int status) { QCoreApplication::exit(status); });
    QMetaObject::invokeMethod(&send, &kibro::TerminalSend::start, Qt::QueuedConnection);
    return QCoreApplication::exec();
}
