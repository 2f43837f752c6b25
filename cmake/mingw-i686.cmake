# Cross build of the 32-bit Windows libraries (the deliverables) with the
# posix-thread mingw-w64 compilers.
set(VM_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
