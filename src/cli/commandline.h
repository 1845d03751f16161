#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <cstdio>
#include <optional>

namespace kibro {

class SerialPort;

void print(std::FILE* stream, const QString& text);

// The port and rate a terminal user asked for.
struct PortRequest
{
    // A COM number, or a device when the user named one.
    std::optional<qint16> portNumber;
    QString device;
    // 0 for the stored rate.
    qint32 baud = 0;
};

// What both terminal programs take alike: help, version, --port, --baud, --quiet and one FILE
// or -, checked the same way, with the same words for a wrong one.
class ProgramCommandLine
{
public:
    static constexpr int kUsageStatus = 1;

    ProgramCommandLine(const char* program, const QString& description, const QString& fileHelp);

    [[nodiscard]] QCommandLineParser& parser() noexcept { return m_parser; }
    // A status to end with at once (a wrong line, help, version), or none to go on.
    [[nodiscard]] std::optional<int> parse(const QStringList& arguments);
    [[nodiscard]] int usageError(const QString& what) const;

    [[nodiscard]] const PortRequest& port() const noexcept { return m_port; }
    [[nodiscard]] bool quiet() const { return m_parser.isSet(m_quiet); }
    [[nodiscard]] QString file() const { return m_parser.positionalArguments().value(0); }

private:
    const char* m_program;
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    QCommandLineOption m_portOption;
    QCommandLineOption m_baud;
    QCommandLineOption m_quiet;
    PortRequest m_port;
};

// Where the window would go: its store, read only, and its port map; then what the line asked.
void configureTerminalPort(SerialPort& serial, const PortRequest& request, const char* program);

// Before the application is made: Qt's own event loop, where a wake for the line costs less
// than through glib's.
void useQtEventLoop();

// The lower layers' lines ("kibro: ...") speak for program; its system texts in English; its
// name and version for --version.
void speakAs(const char* program);

} // namespace kibro
