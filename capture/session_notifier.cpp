#include "capture/session_notifier.h"

#include "plugin/korvane_plugin.h"

namespace Vardel {

SessionNotifier::SessionNotifier(KorvanePlugin* plugin) : QObject(plugin), plugin_(plugin) {}

void SessionNotifier::post(const char* slot) { QMetaObject::invokeMethod(this, slot, Qt::QueuedConnection); }

void SessionNotifier::startRefused() { post("deliverStartRefused"); }
void SessionNotifier::firstDeviceChosen() { post("deliverFirstDeviceChosen"); }
void SessionNotifier::sessionStarted() { post("deliverSessionStarted"); }
void SessionNotifier::sessionStopped() { post("deliverSessionStopped"); }

void SessionNotifier::deliverStartRefused() { plugin_->onStartRefused(); }
void SessionNotifier::deliverFirstDeviceChosen() { plugin_->onFirstDeviceChosen(); }
void SessionNotifier::deliverSessionStarted() { plugin_->onSessionStarted(); }
void SessionNotifier::deliverSessionStopped() { plugin_->onSessionStopped(); }

} // namespace Vardel
