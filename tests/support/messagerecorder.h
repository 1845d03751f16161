#pragma once

#include "messagebox.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Answers every message box at once and remembers what it said, in order.
class MessageRecorder
{
public:
    struct Message
    {
        QString text;
        QString title;
    };

    MessageRecorder()
    {
        kibro::setMessageHook([this](const QString& text, const QString& title) {
            m_messages.append({text, title});
            if (m_onMessage)
                m_onMessage(m_messages.constLast());
        });
    }
    ~MessageRecorder() { kibro::setMessageHook({}); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    [[nodiscard]] const QList<Message>& messages() const { return m_messages; }
    [[nodiscard]] qsizetype count() const { return m_messages.size(); }
    [[nodiscard]] const Message& first() const { return m_messages.constFirst(); }
    // The messages from index on, one "title: text" a line, for failure output.
    [[nodiscard]] QString describe(qsizetype from = 0) const
    {
        return describe(m_messages.mid(from));
    }
    [[nodiscard]] static QString describe(const QList<Message>& messages)
    {
        QStringList lines;
        for (const auto& message : messages)
            lines << message.title + QStringLiteral(": ") + message.text;
        return lines.isEmpty() ? QStringLiteral("(no message)") : lines.join(u'\n');
    }
    // Runs while the box would be up, before it is answered.
    void onMessage(std::function<void(const Message&)> callback)
    {
        m_onMessage = std::move(callback);
    }

private:
    QList<Message> m_messages;
    std::function<void(const Message&)> m_onMessage;
};
