# Cross build of the same sources for 64-bit Windows, so the tests run under
# 64-bit Wine where the host cannot execute i386 code. Same warnings and flags.
set(VM_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
