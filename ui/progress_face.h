#pragma once
// What the progress dialog shows for the job's phase and byte counts, sent as task dialog
// messages through a sink. No Windows header: the same code is built natively for fuzzing,
// and a unit test reads the messages through a sink of its own.

#include "job/setup_result.h"

#include <cstddef>
#include <cstdint>
#include <optional>

struct MessageCatalog;

inline constexpr std::int32_t kProgressScale = 1000;
inline constexpr std::int32_t kMarqueeIntervalMilliseconds = 30;
inline constexpr std::size_t kProgressTextCapacity = 128;

// Task dialog messages and their arguments (WM_USER is 0x0400); progress_dialog.cpp checks
// them against the SDK's.
inline constexpr std::uint32_t kWmSetIcon = 0x0080;
inline constexpr std::uint32_t kTdmClickButton = 0x0400 + 102;
inline constexpr std::uint32_t kTdmSetMarqueeProgressBar = 0x0400 + 103;
inline constexpr std::uint32_t kTdmSetProgressBarRange = 0x0400 + 105;
inline constexpr std::uint32_t kTdmSetProgressBarPos = 0x0400 + 106;
inline constexpr std::uint32_t kTdmSetProgressBarMarquee = 0x0400 + 107;
inline constexpr std::uint32_t kTdmSetElementText = 0x0400 + 108;
inline constexpr std::uint32_t kTdmUpdateElementText = 0x0400 + 114;
inline constexpr std::uintptr_t kTdeContent = 0;
inline constexpr std::uintptr_t kTdeMainInstruction = 3;
inline constexpr std::uintptr_t kIdCancel = 2;
inline constexpr std::intptr_t kProgressRangeParam = std::intptr_t{kProgressScale} << 16;

// Receives one message for the dialog window: SendMessageW in the program, a recorder in tests.
struct MessageSink {
    void* context;
    void (*send)(void* context, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
};

// The face on screen. Main thread only.
struct ProgressFace {
    // The phase whose texts are shown: none before the first dialog, Connecting at each creation.
    std::optional<JobPhase> lastShownPhase;
    // Length of the content text the dialog last laid out. TDM_UPDATE_ELEMENT_TEXT keeps the
    // old layout, so a longer line must go with TDM_SET_ELEMENT_TEXT or it is clipped.
    std::size_t laidOutLength = 0;
};

// Bar position 0..1000 for the bytes received of total (total positive).
[[nodiscard]] std::int64_t progressPosition(std::int64_t downloaded, std::int64_t total);

// The content line: whole MiB received and in total. Returns its length.
std::size_t formatProgressLine(wchar_t (&buffer)[kProgressTextCapacity],
                               const MessageCatalog& catalog, std::int64_t downloaded,
                               std::int64_t total);

// The dialog was created: marquee on, connecting face.
void progressCreated(const MessageSink& sink, ProgressFace& face);

// One timer tick. Returns true when the phase is final: the caller marks the dialog done and
// clicks its Cancel button. downloaded and total are read only while downloading.
[[nodiscard]] bool progressTick(const MessageSink& sink, ProgressFace& face,
                                const MessageCatalog& catalog, JobPhase phase, std::int64_t total,
                                std::int64_t downloaded);
