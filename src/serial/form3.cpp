#include "form3.h"

#include "mscomm.h"

#include <QCloseEvent>
#include <QKeyEvent>

namespace kibro {

Form3::Form3(MSComm& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
{
    setObjectName(QStringLiteral("Form3"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("通信設定"));
}

void Form3::Form_load()
{
    if (m_comm.PortOpen())
        m_comm.setPortOpen(false);
    m_portNo = m_comm.CommPort();
}

void Form3::Command1_Click() {}

void Form3::Command2_Click()
{
    close();
}

void Form3::abandon()
{
    m_abandoned = true;
    hide();
    deleteLater();
}

void Form3::Form_Unload() {}

void Form3::closeEvent(QCloseEvent* event)
{
    if (!m_abandoned)
        Form_Unload();
    event->accept();
}

void Form3::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

} // namespace kibro
