#include "api/automation/Classes.h"

#include "api/automation/Objects.h"

namespace api::automation {
namespace {

// One row per class: CLSID, ProgID ("TolumCOM." and the coclass), coclass
// help string, creator.
constinit core::ComClass g_classes[] = {
    {CLSID_APIObject, ApiObject::kProgId, L"API Object ", &core::CreateComObject<ApiObject>},
    {CLSID_DomainObject, DomainObject::kProgId, L"Domain Object", &core::CreateComObject<DomainObject>},
    {CLSID_AccountObject, AccountObject::kProgId, L"Account Object", &core::CreateComObject<AccountObject>},
    {CLSID_RemoteAccountObject, RemoteAccountObject::kProgId, L"Remote Account Object",
     &core::CreateComObject<RemoteAccountObject>},
};

}  // namespace

constinit const core::ComServer g_server{LIBID_TolumCOM, 1, 0, g_classes};

}  // namespace api::automation
