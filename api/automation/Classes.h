#pragma once
// The administration library's COM server: its class table over the type
// library TolumCOM (include/TolumCOM.idl). The rows are static objects, so
// the factories exist from the library's load, before its own start runs.
#include "core/com/ComServer.h"

namespace api::automation {

extern const core::ComServer g_server;

}  // namespace api::automation
