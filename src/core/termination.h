#pragma once

#include <QObject>

class QSocketNotifier;

namespace kibro {

// The system's requests to end (on Unix SIGINT, SIGTERM and SIGHUP), heard on the event loop so
// the program can end as its own exit does: port closed, lock gone, settings stored. A signal
// ignored when this is made stays ignored. The first request puts back what the signals did
// before, so a second one ends the program at once. One instance at a time; destroying it puts
// that back too.
class TerminationRequests : public QObject
{
    Q_OBJECT

public:
    explicit TerminationRequests(QObject* parent = nullptr);
    ~TerminationRequests() override;
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;

signals:
    void requested(int signalNumber);

private:
    void onReadable();

    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kibro
