#pragma once
// The sending library's COM server: its class table over the type library
// VelmoraCOM (include/VelmoraCOM.idl) and the start of its units.
#include "core/com/ComServer.h"

namespace sender {

extern const core::ComServer g_server;

// Starts the units the classes work on (the lock table, time zone, caches,
// hooks) once, at the first request for a class: the start loads a system
// library, which the library's DllMain must not do.
void StartUnitsOnce() noexcept;
// At unload, when they were started.
void StopUnits() noexcept;

}  // namespace sender
