#include "messagebox.h"

#include <QMessageBox>

namespace kibro {

namespace {

MessageHook& hook()
{
    static MessageHook instance;
    return instance;
}

} // namespace

void setMessageHook(MessageHook newHook)
{
    hook() = std::move(newHook);
}

void messageBox(QWidget* parent, const QString& text, const QString& title)
{
    if (hook()) {
        hook()(text, title);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace kibro
