# Cross-build for 64-bit Windows with Debian's mingw-w64 (the POSIX thread model, which std::thread
# needs). Everything is linked statically: the .exe needs no DLL beside it, only the system's own.
# Tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BG_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BG_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BG_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BG_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The wide-character Windows API throughout; no min/max macros over the standard library's.
set(CMAKE_C_FLAGS_INIT "-DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN")
# GCC 12 reports false overlaps in std::u16string's operator+ when optimising for size
# (its bug 105329): -Wno-restrict.
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN -Wno-restrict")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Release: small, stripped, unused functions dropped. Set as cache values: the compiler's own
# defaults are appended to the *_INIT flags, and their -O3 would win over -Os.
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG -ffunction-sections -fdata-sections" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG -ffunction-sections -fdata-sections" CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-Wl,--gc-sections -s")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
