#pragma once

#include <QDialog>

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

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Unload();

    MSComm& m_comm;
    qint16 m_portNo = 0;
    bool m_abandoned = false;
};

} // namespace kibro
