#include "platform/plain_file.h"

namespace {

// FileDispositionInfoEx and its flags, which mingw-w64 10 names only for newer targets.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
struct DispositionEx {
    DWORD flags;
};

} // namespace

DWORD plainFileError(DWORD attributes, DWORD links) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return kErrorStoppedOnLink;
    }
    return links == 1 ? DWORD{0} : DWORD{ERROR_TOO_MANY_LINKS};
}

bool posixDeleteUnsupported(DWORD error) {
    switch (error) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return true;
    default:
        return false;
    }
}

DWORD openPlainFileIn(HANDLE folder, std::wstring_view name, DWORD access, DWORD share,
                      ULONG disposition, UniqueFile& file) {
    DWORD refused = openInFolder(
        folder, name, {access | FILE_READ_ATTRIBUTES, share, disposition, kFileOnly | kNoFollowing},
        file);
    BY_HANDLE_FILE_INFORMATION info{};
    if (refused == 0) {
        refused = GetFileInformationByHandle(file.get(), &info)
                      ? plainFileError(info.dwFileAttributes, info.nNumberOfLinks)
                      : GetLastError();
    }
    if (refused != 0) {
        file.reset();
    }
    return refused;
}

DWORD deleteByHandle(HANDLE handle) {
    DispositionEx posix{kDispositionDelete | kDispositionPosixSemantics};
    if (SetFileInformationByHandle(handle, kFileDispositionInfoEx, &posix, sizeof posix)) {
        return 0;
    }
    if (const DWORD error = GetLastError(); !posixDeleteUnsupported(error)) {
        return error;
    }
    // The name then stays, delete pending, until every other handle on the file is closed.
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
        return GetLastError();
    }
    return 0;
}

DWORD deletePlainFileIn(HANDLE folder, std::wstring_view name) {
    UniqueFile file;
    // Every sharing, as DeleteFileW asks: a reader that allows deletion does not hold it up.
    if (const DWORD opened = openPlainFileIn(folder, name, DELETE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             kOpenExisting, file);
        opened != 0) {
        return opened;
    }
    return deleteByHandle(file.get());
}

DWORD deleteFolderIn(HANDLE parent, std::wstring_view name, const FileIdentity& identity) {
    UniqueFile folder;
    FileIdentity found;
    DWORD error = openInFolder(parent, name,
                               {DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                kOpenExisting, kFolderOnly | kNoFollowing},
                               folder);
    if (error == 0) {
        error = identityOf(folder.get(), found);
    }
    if (error == 0 && !(found == identity)) {
        error = kErrorNotTheSameFolder;
    }
    return error != 0 ? error : deleteByHandle(folder.get());
}
