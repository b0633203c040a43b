#pragma once
// Start-up: hardening, temporary folder, options, run header, single instance, working folder.

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SetupJob;
struct TokenFacts;

inline constexpr const wchar_t* kSetupVersion = L"1.0";
inline constexpr const wchar_t* kTempFolderFallback = L"C:\\Windows\\Temp\\";
inline constexpr DWORD kTempFolderBufferSize = 261;

extern const std::array<const wchar_t*, 2> kBuiltInUrls;

void hardenProcess();

// SYSTEM and elevated runs refuse junctions that non-administrators made, wherever a path
// passes through one.
[[nodiscard]] bool wantsRedirectionGuard(const TokenFacts& token);

// Where the program's temporary folder comes from. An elevated run that is not SYSTEM takes
// %SystemRoot%\Temp, where users may add entries but not rename another account's: its own
// temporary folder is open to every unelevated process of the same user, which could rename the
// working folder or plant one. SYSTEM takes GetTempPath2W's SystemTemp where kernel32 has it
// (`hasTempPath2`), else %SystemRoot%\Temp: never TMP, which a deployment agent may have copied
// from the logged-on user's environment.
enum class TempSource { TempPath, WindowsTemp };
[[nodiscard]] TempSource tempSourceFor(const TokenFacts& token, bool hasTempPath2);

// GetTempPath2W, GetTempPathW and GetSystemWindowsDirectoryW return the length written, or the
// size they would need when the buffer is too small (then nothing was written), or 0 on failure:
// only a length that fits is a folder.
std::wstring chooseTempFolder(DWORD returned, const wchar_t* buffer);

// The folder tempSourceFor names, ending in a backslash.
std::wstring findTempFolder(const TokenFacts& token);

// The length of the installer's path in the longest working folder the run may get: a fresh
// one. An --argumentos value is checked against it before the folder is made.
[[nodiscard]] std::size_t longestInstallerPath(const std::wstring& tempFolder);

// Fills the job from the command line and prepares the working folder. Returns the exit code
// when the process must end here (3 for an option's value that cannot be used, 2 for another
// run, 50 for a temporary folder that cannot be reached or no working folder), nothing
// otherwise.
[[nodiscard]] std::optional<int> prepareJob(SetupJob& job, HINSTANCE instance,
                                            const std::vector<std::wstring_view>& args);

void loadDialogIcons(SetupJob& job, HINSTANCE instance);
