#pragma once
struct SetupJob;

// What showFailureDialog returns when the dialog could not be shown at all: no button has it.
inline constexpr int kFailureDialogNotShown = 0;

// Explains a failed run; returns the button that closed the dialog (IDRETRY, IDCLOSE,
// IDCANCEL), kFailureDialogNotShown when it could not be shown.
[[nodiscard]] int showFailureDialog(SetupJob& job, bool allowRetry);
