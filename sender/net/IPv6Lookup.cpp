#include "sender/net/IPv6Lookup.h"

#include <atomic>
#include <mutex>

#include "core/platform/Handles.h"
#include "core/util/NetText.h"
#include "core/util/Text.h"
#include "sender/net/DnsQuery.h"

namespace sender {

namespace {

constexpr std::uint32_t LookupTimeoutSeconds = 5;

SRWLOCK g_settingsLock = SRWLOCK_INIT;
IPv6Settings g_settings;

std::mutex g_bindLock;
std::atomic<GetAddrInfoFunction> g_getAddrInfo{nullptr};
std::atomic<FreeAddrInfoFunction> g_freeAddrInfo{nullptr};
std::atomic<GetAddrInfoFunction> g_getAddrInfoHook{nullptr};

template <typename Proc>
Proc Bind(HMODULE module, const char* name) {
  // Through void (*)() so the compiler accepts the change of signature.
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

void SetIPv6Settings(bool enabled, std::string_view dnsServers) {
  core::ExclusiveSrwGuard guard(g_settingsLock);
  g_settings.enabled = enabled;
  g_settings.dnsServers.assign(dnsServers);
}

IPv6Settings GetIPv6Settings() {
  core::SharedSrwGuard guard(g_settingsLock);
  return g_settings;
}

bool LoadIPv6Functions() {
  if (g_getAddrInfo.load() != nullptr) return true;
  std::lock_guard<std::mutex> lock(g_bindLock);
  if (g_getAddrInfo.load() != nullptr) return true;
  // The library links ws2_32.dll, which has both on every supported system.
  HMODULE module = ::GetModuleHandleA("ws2_32.dll");
  auto get = module ? Bind<GetAddrInfoFunction>(module, "getaddrinfo") : nullptr;
  auto release = module ? Bind<FreeAddrInfoFunction>(module, "freeaddrinfo") : nullptr;
  if (get == nullptr || release == nullptr) {
    // The older systems' helper, by full path only: a bare name would
    // search the current folder first.
    char folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    core::UniqueModule helper(::LoadLibraryA((std::string(folder, length) + "\\wship6.dll").c_str()));
    if (!helper) return false;
    get = Bind<GetAddrInfoFunction>(helper.get(), "getaddrinfo");
    release = Bind<FreeAddrInfoFunction>(helper.get(), "freeaddrinfo");
    if (get == nullptr || release == nullptr) return false;
    helper.release();  // kept loaded for the life of the process
  }
  g_freeAddrInfo.store(release);
  g_getAddrInfo.store(get);
  return true;
}

AddressInfoFunctions IPv6Functions() {
  AddressInfoFunctions functions;
  functions.getAddrInfo = g_getAddrInfo.load();
  if (functions.getAddrInfo == nullptr) return functions;
  if (const GetAddrInfoFunction hook = g_getAddrInfoHook.load()) functions.getAddrInfo = hook;
  functions.freeAddrInfo = g_freeAddrInfo.load();
  return functions;
}

void SetGetAddrInfoHook(GetAddrInfoFunction hook) { g_getAddrInfoHook.store(hook); }

std::string LookupIPv6Address(std::string_view hostName) {
  const std::string servers = GetIPv6Settings().dnsServers;
  if (servers.empty()) return {};
  std::string address, serverName;
  std::uint16_t port = 53;
  core::ParseHostPort(core::GetDelimitedItem(servers, 0, ';'), 53, address, port, serverName);
  DnsQuery query;
  query.SetTimeout(LookupTimeoutSeconds);
  query.SetServer(address, port, serverName);
  if (!query.QueryAAAA(core::CutTo(hostName, core::ShortTextLength)) || query.Header().responseCode != 0 ||
      query.Result().aaaa.empty()) {
    return {};
  }
  return core::IPv6AddressToText(query.GetAAAAAnswer(0));
}

}  // namespace sender
