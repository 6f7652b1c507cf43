#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// Turns SIGTERM and SIGINT into a Qt signal on the GUI thread (self-pipe), so that the normal
// shutdown runs instead of the process dying mid-write.
class UnixSignalRelay : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalRelay(QObject* parent = nullptr);
    ~UnixSignalRelay() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace platform
