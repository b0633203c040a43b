#pragma once
// The system's sign-in prompt for a proxy, on the progress dialog's thread.

#include <windows.h>

#include <string_view>

struct SetupJob;

// When the worker has asked: shows the prompt, owned by `owner`, and leaves the answer sealed
// in the job (Answered), or nothing (Closed: a Cancel, or no prompt to show). Returns at once
// otherwise.
void promptForProxy(HWND owner, SetupJob& job);

// The user name as the person typed it: a prompt that puts the target and a backslash before it
// (Wine's, even for generic credentials) has that part taken off again.
void keepUserAsTyped(wchar_t* user, std::wstring_view target);
