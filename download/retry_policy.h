#pragma once
// The fixed retry policy: three attempts per URL, pauses of 0, 2 and 4 seconds
// cut into 100 ms slices so that a Cancel ends a pause at once.

#include <windows.h>

inline constexpr int kAttemptsPerUrl = 3;
inline constexpr int kPauseStepSlices = 20;
inline constexpr DWORD kPauseSliceMs = 100;

// Slices of the pause before attempt index 0, 1, 2: 0, 20, 40.
[[nodiscard]] constexpr int pauseSlices(int attemptIndex) {
    return attemptIndex * kPauseStepSlices;
}
