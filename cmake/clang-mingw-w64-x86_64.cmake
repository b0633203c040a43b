# Cross build for 64-bit Windows with clang 16 and lld 16 against Debian's mingw-w64 runtime
# and GCC's C++ runtime (posix threads): the build that has control-flow guard.
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
# clang does not recognise Debian's "12-posix" GCC folder: name its C++ headers and libraries.
set(SKYLOOM_GCC_DIR /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${SKYLOOM_GCC_DIR}/include/c++ \
-isystem ${SKYLOOM_GCC_DIR}/include/c++/x86_64-w64-mingw32 \
-isystem ${SKYLOOM_GCC_DIR}/include/c++/backward")
# /usr/bin/ld.lld is lld 14, which refuses the directives of clang 16's objects.
set(SKYLOOM_LINK_INIT "--ld-path=/usr/lib/llvm-16/bin/ld.lld -L${SKYLOOM_GCC_DIR} -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${SKYLOOM_LINK_INIT})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${SKYLOOM_LINK_INIT})
set(SKYLOOM_DLLTOOL /usr/lib/llvm-16/bin/llvm-dlltool)
