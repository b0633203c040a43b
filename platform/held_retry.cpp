#include "platform/held_retry.h"

#include "log/diagnostic_log.h"
#include "platform/plain_file.h"

#include <algorithm>
#include <iterator>

std::atomic<std::uint32_t> heldWaitedMs{0};

bool isBriefHold(HeldThing thing, DWORD error) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return true;
    case ERROR_DIR_NOT_EMPTY:
        return thing == HeldThing::Folder;
    default:
        return false;
    }
}

bool failureNeedsItsOwnLine(DWORD error) {
    // A folder not empty yet is a hold too (a file in it whose deletion waits for its last
    // handle); no file deletion gives that error.
    return error != 0 && !isGone(error) && !isBriefHold(HeldThing::Folder, error);
}

DWORD heldWaitMs(int failedTries, std::uint32_t waitedInProcess) {
    const int steps = static_cast<int>(std::size(kHeldWaitsMs));
    if (failedTries < 1 || failedTries > steps || waitedInProcess >= kHeldProcessBudgetMs) {
        return 0;
    }
    return std::min<DWORD>(kHeldWaitsMs[failedTries - 1], kHeldProcessBudgetMs - waitedInProcess);
}

void noteHeldWait(HeldThing thing, DWORD error) {
    if (thing == HeldThing::Folder) {
        logLine(L"a pasta esta' ocupada: espero (%lu)", error);
    } else {
        logLine(L"o ficheiro esta' ocupado: espero (%lu)", error);
    }
}

void noteHeldGiveUp(const wchar_t* path, DWORD error) {
    logLine(L"desisto: %s (%lu)", path, error);
}

void waitWhileHeld(DWORD milliseconds) {
    heldWaitedMs.fetch_add(milliseconds);
    Sleep(milliseconds);
}
