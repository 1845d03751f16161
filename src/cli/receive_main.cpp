// kibro-receive: what the pocket computer saves to the line, into a file, from a terminal.
#include "commandline.h"
#include "terminal.h"
#include "terminalreceive.h"

#include <QCoreApplication>

namespace {

const char kName[] = "kibro-receive";
// Longer than any pocket computer pauses mid-program, short of forgetting a receive.
constexpr double kLongestSilence = 3600.0;

} // namespace

int main(int argc, char* argv[])
{
    // Neither number may go to the port.
    (void)kibro::terminal::takeClosedStandardInput();
    const bool outputClosed = kibro::terminal::takeClosedStandardOutput();
    kibro::terminal::keepOnBrokenPipe();
    kibro::useQtEventLoop();
    QCoreApplication app(argc, argv);
    kibro::speakAs(kName);

    kibro::ProgramCommandLine line(
        kName,
        QStringLiteral("Receives what an FX-890P pocket computer sends over a serial line into "
                       "FILE (or standard output, -), unchanged, until the line has been quiet "
                       "for the silence after the first byte. Port and rate default to those "
                       "chosen in KIBRO's settings window."),
        QStringLiteral("The file to make, or - for standard output."));
    const QCommandLineOption silence(
        QStringLiteral("silence"),
        QStringLiteral("End once the line has been quiet this long after a byte (default 3)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Replace FILE if it exists."));
    line.parser().addOption(silence);
    line.parser().addOption(force);
    if (const auto status = line.parse(QCoreApplication::arguments()))
        return *status;

    kibro::ReceiveRequest request;
    request.file = line.file();
    request.quiet = line.quiet();
    request.port = line.port();
    request.force = line.parser().isSet(force);
    if (line.parser().isSet(silence)) {
        bool number = false;
        const double seconds = line.parser().value(silence).toDouble(&number);
        if (!number || seconds < 0.1 || seconds > kLongestSilence)
            return line.usageError(QStringLiteral("--silence takes 0.1 to 3600 seconds, not '%1'")
                                       .arg(line.parser().value(silence)));
        request.silence = std::chrono::milliseconds(qRound64(seconds * 1000));
    }
    if (request.file == u"-" && outputClosed) {
        kibro::print(stderr,
                     QStringLiteral("%1: standard output is closed\n").arg(QLatin1String(kName)));
        return static_cast<int>(kibro::ReceiveStatus::FileError);
    }

    kibro::TerminalReceive receive(std::move(request));
    QObject::connect(&receive, &kibro::TerminalReceive::done, &app,
                     [](int status) { QCoreApplication::exit(status); });
    QMetaObject::invokeMethod(&receive, &kibro::TerminalReceive::start, Qt::QueuedConnection);
    return QCoreApplication::exec();
}
