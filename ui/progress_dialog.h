#pragma once
#include "ui/progress_face.h"

#include <windows.h>

#include <commctrl.h>

struct SetupJob;

inline constexpr UINT kDialogWidth = 280;

// The face on screen; the main thread alone touches it.
extern ProgressFace progressFace;

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// TaskDialogIndirect of the Common Controls loaded from System32 (version 6 through the
// manifest), null when they cannot be loaded or are version 5, which has no task dialog: a
// delay-load thunk would end the process there.
[[nodiscard]] TaskDialogIndirectFunction findTaskDialog();

// Shows progress until the worker reaches a final phase (then sets dialogDone) or the user
// cancels. A dialog that appears sets dialogCreated.
void showProgressDialog(SetupJob& job);

// The task dialog callback, its messages going to sink instead of the window: reached directly
// by the unit tests.
HRESULT progressDialogNotify(const MessageSink& sink, UINT notification, WPARAM wParam,
                             SetupJob& job);

HRESULT CALLBACK progressDialogCallback(HWND dialog, UINT notification, WPARAM wParam,
                                        LPARAM lParam, LONG_PTR data);
