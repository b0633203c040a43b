#pragma once
// Result codes and phases of a run: plain values, shared by every part and by the native
// builds of the decision code, so no system header here.

#include <cstdint>

// Numbered codes are fixed forever: they are the process exit codes too.
enum class SetupResult : std::int32_t {
    Ok = 0,
    Cancelled = 1,
    AlreadyRunning = 2,
    OptionRefused = 3, // an option's value cannot be used: the run ends before it begins
    NetworkError = 10,
    ServerBusy = 11,
    UnexpectedStatus = 12,
    UnexpectedSize = 13,
    TransferIncomplete = 14,
    UrlRefused = 15,
    SignatureInvalid = 20,
    SignerMismatch = 21,
    VersionRejected = 22,
    NotEnoughSpace = 30,
    LaunchFailed = 40,
    InstallerFailed = 41,
    LocalError = 50,
};

enum class JobPhase : std::int32_t {
    Connecting = 0,
    Downloading = 1,
    Verifying = 2,
    Succeeded = 3,
    Failed = 4,
};

constexpr std::int32_t toInt(SetupResult r) {
    return static_cast<std::int32_t>(r);
}
