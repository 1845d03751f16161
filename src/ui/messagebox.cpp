#include "messagebox.h"

#include <QMessageBox>
#include <QPointer>

namespace kibro {

namespace {

MessageHook& hook()
{
    static MessageHook instance;
    return instance;
}

} // namespace

void bringToFront(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

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
    // On the heap: the parent may go while the box is up, and takes the box with it.
    const QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    bringToFront(box);
    box->exec();
    delete box.data();
}

} // namespace kibro
