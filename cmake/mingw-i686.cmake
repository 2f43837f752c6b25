# Cross build of the 32-bit Windows libraries (the deliverables) with the
# posix-thread mingw-w64 compilers.
set(VM_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Doubles in SSE2 registers, as on x86-64: x87 arithmetic keeps extended
# precision between steps (and follows whatever precision the host process
# set), so a number text could read as a different double in the two builds.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
