#include "sender/com/Classes.h"

#include <windows.h>

#include <atomic>

#include "core/platform/Boundary.h"
#include "core/startup/LibraryStart.h"
#include "sender/com/IMMessage.h"
#include "sender/com/Interfaces.h"
#include "sender/com/Kelpa.h"
#include "sender/com/Mailer.h"

namespace sender {
namespace {

// One row per creatable class: CLSID, ProgID, coclass help string, creator.
constinit core::ComClass g_classes[] = {
    {CLSID_Mailer, L"VelmoraCOM.Mailer", L"Mailer Object", &core::CreateComObject<Mailer>},
    {CLSID_IMMessage, L"VelmoraCOM.IMMessage", L"IM Jabber Object", &core::CreateComObject<IMMessage>},
    {CLSID_Kelpa, L"VelmoraCOM.Kelpa", L"Velmora Data Packager", &core::CreateComObject<Kelpa>},
};

INIT_ONCE g_started = INIT_ONCE_STATIC_INIT;
std::atomic<bool> g_running{false};

// Nothing raised may cross the system's once-call; a start that failed is
// tried again at the next request.
BOOL CALLBACK StartUnits(INIT_ONCE*, void*, void**) {
  return core::AtBoundary(FALSE, [] {
    core::StartLibraryUnits(core::SendingProfile);
    g_running.store(true);
    return TRUE;
  });
}

}  // namespace

constinit const core::ComServer g_server{LIBID_VelmoraCOM, 1, 0, g_classes};

void StartUnitsOnce() noexcept { ::InitOnceExecuteOnce(&g_started, &StartUnits, nullptr, nullptr); }

void StopUnits() noexcept {
  if (g_running.exchange(false)) core::StopLibraryUnits();
}

}  // namespace sender
