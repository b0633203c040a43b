#pragma once
// A proxy's sign-in as the two threads share it: the worker meets the 407 and asks, the progress
// dialog's thread shows the system's prompt, and the answer stays sealed for the rest of the run.

#include <windows.h>
#include <wincred.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdint>

// Where the person's prompt stands. The worker moves Idle to Asked and waits; the dialog's
// thread moves Asked to Showing, then to Answered, or to Closed on Cancel; the worker takes an
// answer back to Idle. Closed asks nobody until the next cycle: a run without a window, a
// Cancel, a progress dialog that has gone.
enum class ProxyPrompt : std::int32_t { Idle, Asked, Showing, Answered, Closed };

// Sealed in place by CryptProtectMemory, which takes whole blocks of 16 bytes.
struct alignas(CRYPTPROTECTMEMORY_BLOCK_SIZE) ProxyCredentials {
    wchar_t user[CREDUI_MAX_USERNAME_LENGTH + 7];
    wchar_t password[CREDUI_MAX_PASSWORD_LENGTH + 8];
};
static_assert(sizeof(ProxyCredentials) % CRYPTPROTECTMEMORY_BLOCK_SIZE == 0);

struct ProxySignIn {
    std::atomic<ProxyPrompt> prompt{ProxyPrompt::Idle};
    // The worker's alone: the prompts asked in this run.
    int prompts = 0;
    // Written by the worker before it asks: the kept answer was just refused.
    bool refused = false;
    // Written by the dialog's thread while the prompt shows, read by the worker afterwards.
    bool kept = false;
    ProxyCredentials sealed{};
};

// False, with the record wiped, when it cannot be sealed: nothing is kept readable.
[[nodiscard]] bool sealProxyCredentials(ProxyCredentials& credentials);
// A readable copy of a sealed record, for one call; the caller wipes it at once. False, with
// the copy wiped, when it cannot be opened.
[[nodiscard]] bool openProxyCredentials(const ProxyCredentials& sealed, ProxyCredentials& copy);
void wipeProxyCredentials(ProxyCredentials& credentials);
