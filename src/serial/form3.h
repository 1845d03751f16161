#pragma once

#include <QDialog>
#include <QString>

#include <array>

class QRadioButton;
class QPushButton;
class QGroupBox;

namespace kibro {

class MSComm;

// The communication settings window. It works on the live port: loading closes it, OK
// tries the choice and stores it only when the port opens, any other closing restores the
// stored configuration.
class Form3 : public QDialog
{
    Q_OBJECT

public:
    Form3(MSComm& comm, QWidget* parent);

    void Form_load();
    void Command1_Click();
    void Command2_Click();
    // The program is ending: go without running the closing handler.
    void abandon();

    [[nodiscard]] qint16 PortNo() const noexcept { return m_portNo; }
    // False once the window is going: closed or abandoned.
    [[nodiscard]] bool isLoaded() const noexcept { return !m_unloaded; }

    // The rates of Option1 to Option6, in their order.
    static constexpr std::array<int, 6> kRates = {1200, 2400, 4800, 9600, 19200, 38400};
    // Which rate option (0 for Option1 ... 5 for Option6) a settings text preselects, or -1.
    [[nodiscard]] static int rateOptionFor(const QString& settings);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void Form_Unload();

    MSComm& m_comm;
    qint16 m_portNo = 0;
    bool m_abandoned = false;
    bool m_unloaded = false;
    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    std::array<QRadioButton*, 6> m_rateOptions{};
    std::array<QRadioButton*, 4> m_portOptions{};
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
};

} // namespace kibro
