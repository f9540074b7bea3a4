#pragma once

// Held across every save of a settings file by this library, in any process.
//
// QSettings guards a save with its own lock file, "<file>.lock" (QLockFile): the owner
// creates it, takes an flock on it, then writes its process id into it. A save killed
// before writing its id leaves an empty lock that QSettings cannot tie to a process and
// waits out for 30 s, on the user-interface thread. The file's age cannot tell it from a
// live owner that is merely slow, and removing a live owner's lock lets two saves race and
// lose one.
//
// This lock is an flock on "<file>.savelock", which the system releases with its owner, so
// it is never left behind. While it is held no save of ours runs anywhere: an empty QSettings
// lock then belongs to a save that died, or to another program's QSettings in the instant
// between creating it and taking its flock. It is removed only when its flock can be taken,
// which no live owner past that instant allows. A lock with an id in it is left to QSettings,
// which looks at that process (and may be in the moment between its owner's close and
// removal, when its flock is free already).

#include "host/ring/unique_fd.h"

#include <QString>

namespace Vardel {

class SettingsSaveLock {
public:
    // Waits for the lock as long as QSettings would wait for its own (30 s); without it (a
    // folder that cannot be written, or a save that hangs) nothing is removed.
    explicit SettingsSaveLock(const QString& settingsFile);
    SettingsSaveLock(const SettingsSaveLock&) = delete;
    SettingsSaveLock& operator=(const SettingsSaveLock&) = delete;

    bool held() const { return bool(fd_); }

private:
    UniqueFd fd_; // closing it releases the flock
};

} // namespace Vardel
