#include "base/open_in_folder.h"

#include <winternl.h>

#include <cstddef>

namespace {

UNICODE_STRING countedName(std::wstring_view name) {
    UNICODE_STRING text{};
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    text.Buffer = const_cast<wchar_t*>(name.data());
    return text;
}

// FILE_RENAME_INFORMATION with the name in the room after it.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

} // namespace

DWORD openInFolder(HANDLE folder, std::wstring_view name, const FolderOpen& how, UniqueFile& handle,
                   bool* created) {
    // A folder that could not be opened is no root: -1 would be taken for the process itself.
    if (folder == INVALID_HANDLE_VALUE || folder == nullptr) {
        handle.reset();
        return ERROR_INVALID_HANDLE;
    }
    // Names of the program's own, well under the counted string's 32,767 units.
    UNICODE_STRING text = countedName(name);
    OBJECT_ATTRIBUTES object{};
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, how.security);
    IO_STATUS_BLOCK status{};
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS result = NtCreateFile(&opened, how.access | SYNCHRONIZE, &object, &status,
                                         nullptr, FILE_ATTRIBUTE_NORMAL, how.share, how.disposition,
                                         how.options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (const DWORD error = takeOpened(result, opened, handle); error != 0) {
        return error;
    }
    if (created != nullptr) {
        *created = status.Information == FILE_CREATED;
    }
    return 0;
}

DWORD takeOpened(LONG status, HANDLE opened, UniqueFile& handle) {
    constexpr NTSTATUS kOplockBreakInProgress = 0x00000108;
    if (!NT_SUCCESS(status)) {
        handle.reset();
        return RtlNtStatusToDosError(status);
    }
    handle.reset(opened);
    if (status == kOplockBreakInProgress) {
        handle.reset();
        return ERROR_SHARING_VIOLATION;
    }
    return 0;
}

DWORD renameInFolder(HANDLE file, HANDLE folder, std::wstring_view name) {
    alignas(RenameInformation)
        std::byte room[sizeof(RenameInformation) + MAX_PATH * sizeof(wchar_t)];
    if (name.size() > MAX_PATH) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    auto* rename = reinterpret_cast<RenameInformation*>(room);
    rename->replaceIfExists = TRUE;
    rename->rootDirectory = folder;
    rename->fileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    name.copy(rename->fileName, name.size());
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = NtSetInformationFile(
        file, &status, rename, static_cast<ULONG>(sizeof room), FileRenameInformation);
    return NT_SUCCESS(result) ? DWORD{0} : RtlNtStatusToDosError(result);
}

DWORD identityOf(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        return GetLastError();
    }
    identity = {info.dwVolumeSerialNumber,
                (ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return 0;
}

DWORD forEachEntry(HANDLE folder, VisitEntry visit, void* context) {
    alignas(FILE_FULL_DIR_INFO) BYTE buffer[4096];
    for (auto batch = FileFullDirectoryRestartInfo;; batch = FileFullDirectoryInfo) {
        if (!GetFileInformationByHandleEx(folder, batch, buffer, sizeof buffer)) {
            const DWORD error = GetLastError();
            return error == ERROR_NO_MORE_FILES ? DWORD{0} : error;
        }
        for (const BYTE* at = buffer;;) {
            const auto& entry = *reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            const FolderEntry found{
                std::wstring_view(entry.FileName, entry.FileNameLength / sizeof(wchar_t)),
                entry.FileAttributes, entry.CreationTime.QuadPart};
            if (found.name != L"." && found.name != L".." && !visit(context, found)) {
                return 0;
            }
            if (entry.NextEntryOffset == 0) {
                break;
            }
            at += entry.NextEntryOffset;
        }
    }
}
