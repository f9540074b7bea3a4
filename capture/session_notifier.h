#pragma once

#include <QObject>

namespace Vardel {

class KorvanePlugin;

// Carries the worker threads' answers to the plug-in's thread. Each answer is a queued
// call, named, so that the event carrying it is made and freed by Qt alone; it runs on
// the user-interface thread, or never if the plug-in is gone by then.
class SessionNotifier : public QObject {
    Q_OBJECT
public:
    explicit SessionNotifier(KorvanePlugin* plugin);

    // From any thread.
    void startRefused();
    void firstDeviceChosen();
    void sessionStarted();
    void sessionStopped();

private slots:
    void deliverStartRefused();
    void deliverFirstDeviceChosen();
    void deliverSessionStarted();
    void deliverSessionStopped();

private:
    void post(const char* slot);
    KorvanePlugin* plugin_;
};

} // namespace Vardel
