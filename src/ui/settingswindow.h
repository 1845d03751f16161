#pragma once

#include "storedport.h"

#include <QDialog>
#include <QString>

#include <array>

class QRadioButton;
class QPushButton;
class QGroupBox;

namespace kibro {

class SerialPort;
// The box that says a port would not open: "COM1" and what went wrong with it.
void reportOpenError(QWidget* parent, qint16 port, const QString& what);

// The communication settings window. It works on the live port: loading closes it, OK
// tries the choice and stores it only when the port opens, any other closing restores the
// stored configuration.
class SettingsWindow : public QDialog
{
    Q_OBJECT

public:
    SettingsWindow(SerialPort& serial, QWidget* parent);

    // Closes the live port and preselects its number and rate, as the user will change them.
    void takeOverPort();
    void onOkClicked();
    // The program is ending: go without running the closing handler.
    void abandon();

    [[nodiscard]] qint16 portNumber() const noexcept { return m_portNumber; }
    // False once the window is going: closed or abandoned.
    [[nodiscard]] bool isLoaded() const noexcept { return !m_unloaded; }

    // Which rate option (0 for the top one) a settings text preselects, or -1.
    [[nodiscard]] static int rateOptionFor(const QString& settings);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    void onUnload();
    // Each port option names its device and what the system says of it, as of now.
    void refreshPortTips();

    SerialPort& m_serial;
    qint16 m_portNumber = 0;
    bool m_unloaded = false;
    QGroupBox* m_rateGroup = nullptr;
    QGroupBox* m_portGroup = nullptr;
    std::array<QRadioButton*, 6> m_rateOptions{};
    std::array<QRadioButton*, 4> m_portOptions{};
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

} // namespace kibro
