# Cross build for 64-bit Windows with clang 16 and lld 16 against Debian's mingw-w64 runtime
# and GCC's C++ runtime: the build that has control-flow guard.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(SKYLOOM_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_C_COMPILER_TARGET ${SKYLOOM_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${SKYLOOM_TARGET})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR /usr/bin/llvm-ar-16)
set(CMAKE_RANLIB /usr/bin/llvm-ranlib-16)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# GCC's C++ runtime in its two thread models, as Debian installs them (g++-mingw-w64-x86-64-posix
# and -win32). clang does not recognise Debian's "12-posix" and "12-win32" folders: CMakeLists.txt
# names the headers and libraries of the model each target takes (SKYLOOM_THREAD_MODEL).
set(SKYLOOM_GCC_RUNTIME_DIR_posix /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
set(SKYLOOM_GCC_RUNTIME_DIR_win32 /usr/lib/gcc/x86_64-w64-mingw32/12-win32)
# CMake's own checks build a library, not a program: a program needs libgcc, which only a
# target's thread model finds.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# /usr/bin/ld.lld is lld 14, which refuses the directives of clang 16's objects.
set(CMAKE_EXE_LINKER_FLAGS_INIT --ld-path=/usr/lib/llvm-16/bin/ld.lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT --ld-path=/usr/lib/llvm-16/bin/ld.lld)
set(SKYLOOM_DLLTOOL /usr/lib/llvm-16/bin/llvm-dlltool)
