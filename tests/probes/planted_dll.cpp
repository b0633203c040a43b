// planted.dll: stands for a DLL that a hostile page dropped beside the program. Copied under
// the names of system DLLs; when any copy is loaded it leaves the file NAME.dll.loaded beside
// itself, so a test sees which ones the program took from its own folder. No C runtime: its
// start-up would load more DLLs (a random source for its stack cookie) from inside the loader.

#include <windows.h>

extern "C" BOOL WINAPI plantedEntry(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    static const wchar_t suffix[] = L".loaded";
    wchar_t path[MAX_PATH + sizeof suffix / sizeof suffix[0]];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return TRUE;
    }
    for (DWORD i = 0; i < sizeof suffix / sizeof suffix[0]; ++i) {
        path[length + i] = suffix[i];
    }
    HANDLE mark =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) {
        CloseHandle(mark);
    }
    return TRUE;
}
