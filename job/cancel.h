#pragma once
#include <windows.h>
#include <winhttp.h>

struct SetupJob;

// Raises the cancel flag, then takes the open request out of its slot and closes it. The flag
// comes first: the worker's blocked call fails when the handle closes and must then find the
// flag raised. Whoever takes the handle closes it, so it is closed exactly once. Returns the
// handle it closed (only to tell which), null when the slot was empty.
HINTERNET cancelWorker(SetupJob& job);
