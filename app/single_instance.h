#pragma once
// One run at a time, through a named mutex held until the process ends. A user's runs each have
// a working folder of their own, so one run per logon session ("Local\"). SYSTEM and elevated
// runs share theirs (%SystemRoot%\Temp, SystemTemp) with every session: one run per machine
// ("Global\"). A name in the global namespace, and in session 0 "Local\" is one too, could be
// created first by any user to stop every such run: there the mutex is made with a DACL for the
// trusted set, and one that exists already counts as another run only when its owner is
// trusted.

#include <windows.h>

inline constexpr const wchar_t* kLocalMutexName = L"Local\\Quorvane-Skyloom-Setup";
inline constexpr const wchar_t* kGlobalMutexName = L"Global\\Quorvane-Skyloom-Setup";

// Which name the run takes, and whether others may have made it first.
struct InstanceScope {
    const wchar_t* name;
    bool shared;
};

[[nodiscard]] InstanceScope instanceScopeFor(bool system, bool elevated, bool sessionZero);

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

[[nodiscard]] InstanceVerdict judgeInstance(bool shared, MutexOpen open, bool ownerTrusted);

// Takes the mutex and logs what a stranger's mutex means. True when another run holds it.
[[nodiscard]] bool anotherRunHolds(InstanceScope scope, PSID trustedUser);
