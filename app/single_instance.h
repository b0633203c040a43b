#pragma once
// One run at a time in a logon session, through a named mutex held until the process ends. In
// session 0 "Local\" is the global namespace, so any user could create the name first and stop
// every SYSTEM run: there the mutex is made with a DACL for the trusted set, and one that exists
// already counts as another run only when its owner is trusted.

#include <windows.h>

enum class MutexOpen {
    Created,
    Existed,
    Denied, // exists, with a DACL that keeps this run out
    Failed,
};

enum class InstanceVerdict {
    Alone,         // go on (also without protection, when the mutex could not be made)
    AnotherRun,    // end with AlreadyRunning
    StrangerHolds, // a stranger made the name: go on, with a line in the log
};

[[nodiscard]] InstanceVerdict judgeInstance(bool sessionZero, MutexOpen open, bool ownerTrusted);

// Takes the mutex and logs what a stranger's mutex means. True when another run holds it.
[[nodiscard]] bool anotherRunHolds(bool sessionZero, PSID trustedUser);
