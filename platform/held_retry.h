#pragma once
// A file or folder held for a moment by someone else: an on-access scanner that opens a fresh
// executable with no sharing while it reads it, the console host of a console installer or an
// application the installer started, whose current folder is the working folder. Such holds end
// within a second or so, so these operations are tried again for a short, bounded time instead
// of failing (or leaving litter) at once.

#include <windows.h>

#include <atomic>
#include <cstdint>

enum class HeldThing {
    File,   // open or delete a file
    Folder, // remove the working folder
};

// Waits after the 1st, 2nd, 3rd and 4th failed try of one operation: at most 1.5 s in all.
inline constexpr DWORD kHeldWaitsMs[] = {100, 200, 400, 800};
// Every operation of the process together waits at most this long, so a run whose file and
// folder are held at every step still ends within about 5 seconds.
inline constexpr DWORD kHeldProcessBudgetMs = 4500;

// Milliseconds every held operation of this process has waited so far (both threads).
extern std::atomic<std::uint32_t> heldWaitedMs;

// A sharing or lock violation; for a folder also one that is not empty yet (a file in it whose
// deletion waits for its last handle to close).
[[nodiscard]] bool isBriefHold(HeldThing thing, DWORD error);

// A deletion or removal that failed without a line of the held-retry's own: anything but a file
// or folder that is gone already, or a hold, which was logged when it was given up.
[[nodiscard]] bool failureNeedsItsOwnLine(DWORD error);

// The wait before the next try after `failedTries` tries failed with a brief hold, given what
// the process has waited already; 0 means give up.
[[nodiscard]] DWORD heldWaitMs(int failedTries, std::uint32_t waitedInProcess);

// The log lines and the wait of the loop below; kept out of the template.
void noteHeldWait(HeldThing thing, DWORD error);
void noteHeldGiveUp(const wchar_t* path, DWORD error);
void waitWhileHeld(DWORD milliseconds);

// Runs `operation` (which returns 0 on success, else the system error it met, read right after
// the call that failed) until it succeeds, fails for another reason than a brief hold, or the
// waits are used up. Logs one line when it starts to wait and one when it gives up. Returns the
// last error, 0 on success.
template <typename Operation>
[[nodiscard]] DWORD retryWhileHeld(HeldThing thing, const wchar_t* path, Operation operation) {
    DWORD error = operation();
    for (int failed = 1; error != 0 && isBriefHold(thing, error); ++failed) {
        const DWORD wait = heldWaitMs(failed, heldWaitedMs.load());
        if (wait == 0) {
            noteHeldGiveUp(path, error);
            return error;
        }
        if (failed == 1) {
            noteHeldWait(thing, error);
        }
        waitWhileHeld(wait);
        error = operation();
    }
    return error;
}
