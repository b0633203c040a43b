// static_import_probe
//   Imports winhttp.dll the ordinary way (a static import, as the program once did) and prints
//   whether WinHTTP works here. Beside planted DLLs it shows that such an import is taken from
//   the program's own folder, before any code of the program runs.

#include <windows.h>
#include <winhttp.h>

#include <cstdio>

int wmain() {
    std::printf("platform=%d\n", WinHttpCheckPlatform() ? 1 : 0);
    return 0;
}
