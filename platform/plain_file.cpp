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

DWORD openUnfollowed(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                     UniqueFile& handle, BY_HANDLE_FILE_INFORMATION& info) {
    handle.reset(CreateFileW(path, access, share, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | flags,
                             nullptr));
    if (!handle) {
        return GetLastError();
    }
    if (!GetFileInformationByHandle(handle.get(), &info)) {
        const DWORD error = GetLastError();
        handle.reset();
        return error;
    }
    return 0;
}

DWORD openPlainFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                    UniqueFile& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD refused = openUnfollowed(path, access, share, disposition, 0, file, info);
    if (refused == 0) {
        refused = plainFileError(info.dwFileAttributes, info.nNumberOfLinks);
    }
    if (refused != 0) {
        file.reset();
    }
    return refused;
}

DWORD deletePlainFile(const wchar_t* path) {
    UniqueFile file;
    // Every sharing, as DeleteFileW asks: a reader that allows deletion does not hold it up.
    if (const DWORD opened = openPlainFile(path, DELETE | FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           OPEN_EXISTING, file);
        opened != 0) {
        return opened;
    }
    DispositionEx posix{kDispositionDelete | kDispositionPosixSemantics};
    if (SetFileInformationByHandle(file.get(), kFileDispositionInfoEx, &posix, sizeof posix)) {
        return 0;
    }
    if (const DWORD error = GetLastError(); !posixDeleteUnsupported(error)) {
        return error;
    }
    // The name then stays, delete pending, until every other handle on the file is closed.
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
        return GetLastError();
    }
    return 0;
}
