#pragma once
struct SetupJob;

// Explains a failed run; returns the button that closed the dialog (IDRETRY, IDCLOSE,
// IDCANCEL), IDCLOSE when it could not be shown.
[[nodiscard]] int showFailureDialog(SetupJob& job, bool allowRetry);
