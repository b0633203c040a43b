#pragma once
// One run at a time, through named mutexes held until the process ends. A user's runs each have
// a working folder of their own, so one run per terminal session ("Local\"). SYSTEM and elevated
// runs share theirs (%SystemRoot%\Temp, SystemTemp) with every session: one run per machine
// ("Global\"); outside session 0 an elevated run takes its session's name too, so that a user's
// run and a "Run as administrator" copy beside it never start two installers at once. A name in
// the global namespace, and in session 0 "Local\" is one too, could be created first by any user
// to stop every such run: there the mutex is made with a DACL for the trusted set, and one that
// exists already counts as another run only when its owner is trusted.

#include "base/file_security.h"

#include <windows.h>

#include <cstddef>

inline constexpr const wchar_t* kLocalMutexName = L"Local\\Quorvane-Skyloom-Setup";
inline constexpr const wchar_t* kGlobalMutexName = L"Global\\Quorvane-Skyloom-Setup";

// One name the run takes, and whether others may have made it first.
struct InstanceScope {
    const wchar_t* name = nullptr;
    bool shared = false;
    // Whose mutex is another run, besides SYSTEM's and the Administrators' (null: nobody else's).
    // A user's run that may not open its session's name asks only that: the elevated run of the
    // same session holds it.
    PSID ownerUser = nullptr;
    // May wait on the mutex and read its owner, though the DACL keeps it out otherwise: the user
    // whose unelevated runs share the session with an elevated one.
    PSID watcher = nullptr;
};

struct InstanceScopes {
    InstanceScope scopes[2];
    std::size_t count = 0;
    // The run's own user, named as the owner of an unshared name it makes: an elevated run of the
    // same user then reads it and knows its user's run holds the name.
    PSID user = nullptr;
};

// SYSTEM and elevated runs: "Global\", and outside session 0 (where "Local\" is the global
// namespace itself) "Local\" too, whose owner may also be the run's own user. Anyone else:
// "Local\".
[[nodiscard]] InstanceScopes instanceScopesFor(const TokenFacts& token, bool sessionZero);

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

// ownerTrusted: of a mutex that existed, or that a user's run was denied and could only look at.
[[nodiscard]] InstanceVerdict judgeInstance(bool shared, MutexOpen open, bool ownerTrusted);

// Takes the mutexes and logs what a stranger's mutex means. True when another run holds one.
[[nodiscard]] bool anotherRunHolds(const InstanceScopes& scopes, const TrustedSet& trusted);
