// Linked into the shipped program only: stand-ins for four parts of the static runtimes: two
// that the program never needs in full, one that would load DLLs before wWinMain runs, and the
// C runtime's start-up code.

#include "app/guarded_entry.h"

#include <windows.h>

#include <bits/functexcept.h>

#include <cstdint>
#include <new>

// The default handler names the exception's type on stderr, which a GUI process does not
// have; the demangler and the C99 formatter it brings along are about 55 KiB of the file.
// Until runGuarded installs the same, it ends a terminate before wWinMain as a crash too.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    endCrashed();
}
} // namespace __gnu_cxx

// The runtime's own versions build a std::logic_error around a message, which pulls in the
// narrow std::string and the std::stdexcept family (about 55 KiB). In this program a string
// or a vector can only fail to grow; every step already treats std::bad_alloc as "out of
// memory", and that is what each of these means here.
namespace std {
void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_alloc();
}
void __throw_length_error(const char*) {
    throw bad_alloc();
}
void __throw_logic_error(const char*) {
    throw bad_alloc();
}
} // namespace std

// The stack protector's guard value. GCC's own setup asks CryptAcquireContext for it in a
// constructor, before wWinMain has restricted the library search: that loads the crypto
// provider, and its imports (bcrypt.dll, crypt32.dll) would be taken from the program's own
// folder. The clang build's load configuration names this guard as the security cookie, so
// the loader seeds it as it seeds MSVC's cookie; it starts with the value the loader looks for.
// Where nothing seeded it (the GCC build has no load configuration) this mixes what the MSVC
// runtime mixes into its cookie instead.
constexpr std::uintptr_t kDefaultStackGuard = 0x2B992DDFA232;

extern "C" {
std::uintptr_t __stack_chk_guard = kDefaultStackGuard;

__attribute__((no_stack_protector, constructor(101))) void setStackGuard() {
    if (__stack_chk_guard != kDefaultStackGuard) {
        return; // seeded by the loader
    }
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    std::uintptr_t value = (std::uintptr_t{now.dwHighDateTime} << 32) ^ now.dwLowDateTime;
    value ^= GetCurrentProcessId();
    value ^= std::uintptr_t{GetCurrentThreadId()} << 16;
    value ^= static_cast<std::uintptr_t>(counter.QuadPart) << 32;
    value ^= static_cast<std::uintptr_t>(counter.QuadPart);
    value ^= reinterpret_cast<std::uintptr_t>(&value); // the stack's place, chosen by ASLR
    value &= 0x0000FFFFFFFFFFFF; // top bytes zero, as the MSVC cookie keeps them
    __stack_chk_guard = value != 0 ? value : kDefaultStackGuard;
}

[[noreturn]] void __stack_chk_fail() {
    // A smashed stack: end at once, without running anything more of this process.
    RaiseFailFastException(nullptr, nullptr, 0);
    endCrashed(); // not reached
}
}

// The entry point (linked with -nostartfiles). mingw-w64's start-up code sets up what this
// program never uses: the C runtime's argument and environment copies, its signal, math-error
// and floating-point handlers, the runtime pseudo-relocations (the link refuses to need any:
// --disable-runtime-pseudo-reloc) and the exit() that runs atexit handlers, about 8 KiB of the
// file. What the program needs of it is done here: the C++ constructors.
extern "C" {
void __main(); // libmingw32's constructor runner, which a static initializer could call too

// The process ends with ExitProcess, never through exit(): nothing registered here would run.
int atexit(void (*)()) {
    return 0;
}

[[noreturn]] void wWinMainCRTStartup() {
    __main();
    // wWinMain reads its arguments with GetCommandLineW itself.
    ExitProcess(
        static_cast<UINT>(wWinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOWDEFAULT)));
}
}
