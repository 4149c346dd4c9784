# Cross-building vantrel for Windows (x86_64) with Debian's mingw-w64, its POSIX-threads flavour
# (std::thread and std::mutex need it). scripts/build-windows passes it with the prefixes it
# prepared: VANTREL_WINDOWS_PREFIXES, the ICU built for Windows and a prefix that holds the
# header-only libraries (nlohmann/json), whose headers are the same on every system.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(VANTREL_WINDOWS_PREFIXES "" CACHE STRING "Prefixes of the libraries built or staged for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${VANTREL_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked: the executables need nothing beside them, not even the compiler's runtime.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests run under Wine here.
find_program(VANTREL_WINE NAMES wine wine64)
if(VANTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTREL_WINE})
endif()
