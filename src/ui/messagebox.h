#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kibro {

// The program's one kind of message: modal, a text, a title, an OK button, no icon. The
// parent may go while the box is up; the box goes with it and the call returns.
void messageBox(QWidget* parent, const QString& text, const QString& title);

// Shows a window in front with the keyboard: a window manager may otherwise leave one that was
// opened before another, or while another program had the keyboard, behind.
void bringToFront(QWidget* window);

// Tests answer boxes through this hook: when set, it is called instead of showing a box.
using MessageHook = std::function<void(const QString& text, const QString& title)>;
void setMessageHook(MessageHook hook);

} // namespace kibro
