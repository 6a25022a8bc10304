# Shared part of the mingw-w64 toolchain files; PQ640_MINGW_TRIPLET names the
# target (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_C_COMPILER ${PQ640_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PQ640_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PQ640_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${PQ640_MINGW_TRIPLET}-objdump)
set(CMAKE_DLLTOOL ${PQ640_MINGW_TRIPLET}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${PQ640_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and the DLL carry libgcc, libstdc++ and winpthread inside, so
# they need only system DLLs on the host (and under Wine).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

