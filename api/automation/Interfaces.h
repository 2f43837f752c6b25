#pragma once
// The type library's interfaces and identifiers as widl writes them
// (TolumCOM.h, in the build tree: see api/automation/CMakeLists.txt), for
// every class of this server.
#include <windows.h>

#include "TolumCOM.h"
