#pragma once
#include "ui/progress_face.h"

#include <windows.h>

#include <commctrl.h>

struct SetupJob;

inline constexpr UINT kDialogWidth = 280;

// The face on screen; the main thread alone touches it.
extern ProgressFace progressFace;

// Common Controls is delay-loaded: without it a task dialog cannot be shown at all, and its
// thunk would end the process. True when it is loaded (from System32).
[[nodiscard]] bool taskDialogAvailable();

// Shows progress until the worker reaches a final phase (then sets dialogDone) or the user
// cancels.
void showProgressDialog(SetupJob& job);

// The task dialog callback, its messages going to sink instead of the window: reached directly
// by the unit tests.
HRESULT progressDialogNotify(const MessageSink& sink, UINT notification, WPARAM wParam,
                             SetupJob& job);

HRESULT CALLBACK progressDialogCallback(HWND dialog, UINT notification, WPARAM wParam,
                                        LPARAM lParam, LONG_PTR data);
