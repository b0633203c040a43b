#pragma once
// The failure dialog's way out: a link to the full installer, whose address is a build setting.
// Nothing the network sent ever becomes that address or the link's text.

#include <windows.h>

// The failure dialog's callback: a click on the link opens the full installer's page.
HRESULT CALLBACK failureDialogCallback(HWND dialog, UINT notification, WPARAM wParam, LPARAM lParam,
                                       LONG_PTR data);
