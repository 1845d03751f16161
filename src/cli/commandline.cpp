#include "commandline.h"

#include "errors.h"
#include "errorsection.h"
#include "serialport.h"
#include "storedport.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <clocale>

namespace kibro {

namespace {

// "1200, 2400, ... or 38400", from the one list.
QString rateList()
{
    QStringList rates;
    for (const qint32 rate : kRates)
        rates.append(QString::number(rate));
    const QString last = rates.takeLast();
    return rates.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

const char* g_program = "kibro";
QtMessageHandler g_standardMessages = nullptr;

void renameMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QString text = message;
    if (text.startsWith(QLatin1String("kibro: ")))
        text.replace(0, 5, QLatin1String(g_program));
    g_standardMessages(type, context, text);
}

} // namespace

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

ProgramCommandLine::ProgramCommandLine(const char* program, const QString& description,
                                       const QString& fileHelp)
    : m_program(program), m_help({QStringLiteral("h"), QStringLiteral("help")},
                                 QStringLiteral("Print this help and exit.")),
      m_version({QStringLiteral("v"), QStringLiteral("version")},
                QStringLiteral("Print the version and exit.")),
      m_portOption(QStringLiteral("port"),
                   QStringLiteral("COM0 to COM3, as the settings window maps them, or a device "
                                  "such as /dev/ttyUSB0."),
                   QStringLiteral("COMn|DEVICE")),
      m_baud(QStringLiteral("baud"), rateList() + QStringLiteral(" bit/s."),
             QStringLiteral("RATE")),
      m_quiet(QStringLiteral("quiet"), QStringLiteral("No progress line, only the last line."))
{
    m_parser.setApplicationDescription(description);
    for (const auto& option : {m_help, m_version, m_portOption, m_baud, m_quiet})
        m_parser.addOption(option);
    m_parser.addPositionalArgument(QStringLiteral("FILE"), fileHelp, QStringLiteral("FILE|-"));
}

int ProgramCommandLine::usageError(const QString& what) const
{
    print(stderr, usageErrorText(QLatin1String(m_program), what));
    return kUsageStatus;
}

std::optional<int> ProgramCommandLine::parse(const QStringList& arguments)
{
    const QString program = QLatin1String(m_program);
    if (!m_parser.parse(arguments))
        return usageError(m_parser.errorText());
    if (m_parser.isSet(m_help)) {
        // The usage line names the program, not the path it was started by.
        QString text = m_parser.helpText();
        text.replace(0, text.indexOf(u'\n'),
                     QStringLiteral("Usage: %1 [options] FILE|-").arg(program));
        print(stdout, text);
        return 0;
    }
    if (m_parser.isSet(m_version)) {
        print(stdout,
              QStringLiteral("%1 %2\n").arg(program, QCoreApplication::applicationVersion()));
        return 0;
    }
    const QStringList files = m_parser.positionalArguments();
    if (files.size() != 1)
        return usageError(files.isEmpty() ? QStringLiteral("no FILE")
                                          : QStringLiteral("one FILE at most"));
    if (m_parser.isSet(m_portOption)) {
        const QString value = m_parser.value(m_portOption);
        static const QRegularExpression comName(QStringLiteral("^COM([0-3])$"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (const auto match = comName.match(value); match.hasMatch())
            m_port.portNumber = static_cast<qint16>(match.captured(1).toInt());
        else if (value.contains(u'/'))
            m_port.device = value;
        else
            return usageError(
                QStringLiteral("--port takes COM0 to COM3 or a device path, not '%1'").arg(value));
    }
    if (m_parser.isSet(m_baud)) {
        bool number = false;
        m_port.baud = m_parser.value(m_baud).toInt(&number);
        if (!number || std::find(kRates.begin(), kRates.end(), m_port.baud) == kRates.end())
            return usageError(QStringLiteral("--baud takes %1, not '%2'")
                                  .arg(rateList(), m_parser.value(m_baud)));
    }
    return std::nullopt;
}

void configureTerminalPort(SerialPort& serial, const PortRequest& request, const char* program)
{
    ErrorSection section;
    applyStoredConfiguration(serial, section);
    if (section.lastError() != 0) {
        // A store the window could not use either: the built-in port and rate, as it would.
        print(stderr,
              QStringLiteral("%1: the stored port settings are unusable; using COM%2 at 9600\n")
                  .arg(QLatin1String(program))
                  .arg(SerialPort::kDefaultPort));
        serial.setPortNumber(SerialPort::kDefaultPort);
        serial.setSettings(SerialPort::kDefaultSettings.toString());
    }
    // The command line has checked both; the port is not open yet to refuse them.
    if (request.portNumber)
        serial.setPortNumber(*request.portNumber);
    serial.setDevice(request.device);
    if (request.baud > 0)
        serial.setSettings(settingsText(request.baud));
}

void useQtEventLoop()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

void speakAs(const char* program)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(KIBRO_VERSION));
    // Its lines are English; the system's error texts in them are too.
    std::setlocale(LC_MESSAGES, "C");
    QCoreApplication::setApplicationName(QLatin1String(program));
    g_program = program;
    g_standardMessages = qInstallMessageHandler(renameMessages);
}

} // namespace kibro
