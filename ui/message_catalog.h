#pragma once
// The six languages of every text the user sees.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

struct MessageCatalog {
    const wchar_t* languageCode;
    const wchar_t* productName;
    const wchar_t* connectingText;
    const wchar_t* downloadingText;
    const wchar_t* progressFormat; // MiB received, MiB in total (%lld, %lld)
    const wchar_t* checkingText;
    const wchar_t* failureHeading;
    const wchar_t* downloadFailedText;
    const wchar_t* serverBusyFormat; // minutes (%d)
    const wchar_t* invalidInstallerText;
    const wchar_t* diskSpaceFormat;      // MB needed (%lld)
    const wchar_t* installFailedFormat;  // the installer's exit code (%d)
    const wchar_t* genericFailureFormat; // the code text (%s)
    const wchar_t* logLocationFormat;    // the log file's path (%s)
    // One sentence after the message, by what the user can do about the failure.
    const wchar_t* nameNotResolvedAdvice;
    const wchar_t* noConnectionAdvice;
    const wchar_t* certificateUntrustedAdvice;
    const wchar_t* certificateDatesAdvice;
    const wchar_t* proxySignInAdvice;
    const wchar_t* serverRefusedAdvice;
    const wchar_t* antivirusAdvice;
    const wchar_t* policyAdvice;
    const wchar_t* fileHeldAdvice;
    const wchar_t* serverChangedAdvice;
    const wchar_t* secureChannelAdvice;
    const wchar_t* installInProgressAdvice;
    const wchar_t* fullInstallerLink; // the text of the link to the full installer
    // The failure dialog's expander, collapsed and expanded. The collapsed one is one word: the
    // state every user sees first reads whole wherever the label is narrow.
    const wchar_t* showDetailsLabel;
    const wchar_t* hideDetailsLabel;
};

inline constexpr std::size_t kCatalogItemCount = sizeof(MessageCatalog) / sizeof(const wchar_t*);

// en, pt, es, fr, de, it: each language's items in the order of the fields above, each ended by
// a NUL, as UTF-8. widenCatalog (ui/catalog_widening.h) makes a MessageCatalog of one.
inline constexpr std::size_t kCatalogCount = 6;
extern const std::array<std::u8string_view, kCatalogCount> kCatalogTexts;

// UTF-16 units enough for any of them, NULs included.
inline constexpr std::size_t kCatalogUnitCapacity = 4096;

// Which of kCatalogTexts: the one whose code equals the request exactly, else the one of the UI
// language's primary language (a LANGID), else English.
std::size_t catalogIndexFor(std::wstring_view languageRequest, std::uint16_t uiLanguage);

// The catalogue of catalogIndexFor with the user's UI language, widened at start-up: the one
// call's result serves the whole process.
const MessageCatalog& selectCatalog(std::wstring_view languageRequest);
