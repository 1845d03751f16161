// kibro-send: the window's transfer from a terminal, for shells and Makefiles.
#include "errors.h"
#include "fileread.h"
#include "terminal.h"
#include "terminalsend.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <limits>

namespace {

const char kName[] = "kibro-send";

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// "1200, 2400, ... or 38400", from the one list.
QString rateList()
{
    QStringList rates;
    for (const qint32 rate : kibro::kRates)
        rates.append(QString::number(rate));
    const QString last = rates.takeLast();
    return rates.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

int usageError(const QString& what)
{
    print(stderr, kibro::usageErrorText(QLatin1String(kName), what));
    return static_cast<int>(kibro::SendStatus::Usage);
}

QtMessageHandler g_standardMessages = nullptr;

// The engine's layers say "kibro:"; here they speak for this program.
void renameMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QString text = message;
    if (text.startsWith(QLatin1String("kibro: ")))
        text.replace(0, 5, QLatin1String(kName));
    g_standardMessages(type, context, text);
}

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
    // Qt's own event loop: a wake for the line costs less than through glib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    // Its lines are English; the system's error texts in them are too.
    std::setlocale(LC_MESSAGES, "C");
    QCoreApplication::setApplicationName(QLatin1String(kName));
    QCoreApplication::setApplicationVersion(QStringLiteral(KIBRO_VERSION));
    g_standardMessages = qInstallMessageHandler(renameMessages);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends FILE (or standard input, -) to an FX-890P pocket computer over "
                       "a serial line, paced as the pocket computer can take it. Port and rate "
                       "default to those chosen in KIBRO's settings window."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("COM0 to COM3, as the settings window maps them, "
                                                 "or a device such as /dev/ttyUSB0."),
                                  QStringLiteral("COMn|DEVICE"));
    const QCommandLineOption baud(QStringLiteral("baud"), rateList() + QStringLiteral(" bit/s."),
                                  QStringLiteral("RATE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No progress line, only the last line."));
    for (const auto& option : {help, version, port, baud, quiet})
        parser.addOption(option);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The file to send, or - for standard input."),
                                 QStringLiteral("FILE|-"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        // The usage line names the program, not the path it was started by.
        QString text = parser.helpText();
        text.replace(0, text.indexOf(u'\n'),
                     QStringLiteral("Usage: %1 [options] FILE|-").arg(QLatin1String(kName)));
        print(stdout, text);
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout,
              QStringLiteral("%1 %2\n").arg(QLatin1String(kName), QStringLiteral(KIBRO_VERSION)));
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return usageError(files.isEmpty() ? QStringLiteral("no FILE")
                                          : QStringLiteral("one FILE at most"));

    kibro::SendRequest request;
    request.file = files.constFirst();
    request.quiet = parser.isSet(quiet);
    if (parser.isSet(port)) {
        const QString value = parser.value(port);
        static const QRegularExpression comName(QStringLiteral("^COM([0-3])$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (const auto match = comName.match(value); match.hasMatch())
            request.portNumber = static_cast<qint16>(match.captured(1).toInt());
        else if (value.contains(u'/'))
            request.device = value;
        else
            return usageError(
                QStringLiteral("--port takes COM0 to COM3 or a device path, not '%1'").arg(value));
    }
    if (parser.isSet(baud)) {
        bool number = false;
        request.baud = parser.value(baud).toInt(&number);
        if (!number || std::find(kibro::kRates.begin(), kibro::kRates.end(), request.baud) ==
                           kibro::kRates.end())
            return usageError(
                QStringLiteral("--baud takes %1, not '%2'").arg(rateList(), parser.value(baud)));
    }
    // Read whole before the port is taken, as the window reads a file before its first byte.
    if (request.file == u"-") {
        if (inputClosed) {
            print(stderr,
                  QStringLiteral("%1: standard input is closed\n").arg(QLatin1String(kName)));
            return static_cast<int>(kibro::SendStatus::FileError);
        }
        QString reason;
        if (!readStandardInput(request.input, reason)) {
            print(stderr,
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
