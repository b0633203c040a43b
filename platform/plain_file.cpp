#include "platform/plain_file.h"

DWORD plainFileError(DWORD attributes, DWORD links) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return kErrorStoppedOnLink;
    }
    return links == 1 ? DWORD{0} : DWORD{ERROR_TOO_MANY_LINKS};
}

DWORD openPlainFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                    UniqueFile& file) {
    file.reset(CreateFileW(path, access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return GetLastError();
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD refused = GetFileInformationByHandle(file.get(), &info)
                              ? plainFileError(info.dwFileAttributes, info.nNumberOfLinks)
                              : GetLastError();
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
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
        return GetLastError();
    }
    return 0;
}
