#pragma once
// Another program holding a serial device open, the way QSerialPort opens it (its lock file
// and exclusive access), for as long as this lives. The including test defines
// KIBRO_FAULT_HOLDER as the path of fault_holder.

#include <QByteArray>
#include <QProcess>
#include <QString>

class DeviceHolder
{
public:
    DeviceHolder() = default;
    ~DeviceHolder() { release(); }
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;

    // Whether the device is held now; said() tells why not.
    [[nodiscard]] bool hold(const QString& device)
    {
        m_process.setProgram(QStringLiteral(KIBRO_FAULT_HOLDER));
        m_process.setArguments({device});
        m_process.start();
        if (!m_process.waitForStarted(kWaitMs))
            return false;
        QByteArray said;
        while (!said.contains('\n') && m_process.waitForReadyRead(kWaitMs))
            said += m_process.readAllStandardOutput();
        m_said = QString::fromLocal8Bit(said).trimmed();
        return m_said == u"held";
    }
    [[nodiscard]] QString said() const { return m_said; }
    [[nodiscard]] qint64 processId() const { return m_process.processId(); }

    // The holder lets go when its standard input closes.
    void release()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(kWaitMs)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    static constexpr int kWaitMs = 15000;

    QProcess m_process;
    QString m_said;
};
