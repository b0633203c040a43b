#pragma once
// A folder opened as the program holds its working folder, for the unit tests and the probes
// whose code under test opens its files inside one.

#include "app/work_folder.h"
#include "base/handles.h"

#include <windows.h>

#include <string>

inline UniqueFile holdFolderAsTheProgramDoes(const std::wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), kHeldFolderAccess, kHeldFolderSharing, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}
