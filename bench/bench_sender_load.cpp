// The sending library's configuration load (at every instant-message
// creation) of an installation with 1,000 domains, against the real Api.dll's
// Init of the same installation in the same process: the same start-up
// sequence with the other library's profile, each over its own state. Runs
// under Wine from the build tree (Api.dll is found at ..\api\Api.dll beside
// this program); writes the sending library's registry value while it runs.
#include <windows.h>

#include <cstdint>
#include <string>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/startup/LibraryStart.h"
#include "include/Api.h"
#include "sender/config/SendingConfig.h"
#include "tests/support/records.h"

namespace {

constexpr std::uint32_t DomainCount = 1000;

std::string OwnFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

}  // namespace

int main() {
  core::StartLibraryUnits(core::SendingProfile);
  HMODULE api = LoadLibraryA((OwnFolder() + "..\\api\\Api.dll").c_str());
  const auto init =
      api != nullptr ? reinterpret_cast<ApiInitProc>(reinterpret_cast<void*>(GetProcAddress(api, "Init"))) : nullptr;
  if (init == nullptr) return 1;

  const std::string root = bench::TempBenchFolder("sender-load");
  const std::string config = root + "config\\";
  CreateDirectoryA(config.c_str(), nullptr);
  records::SettingsFile settings(DomainCount);
  settings.U8(records::settings::FirstProcessor, 0);
  const std::string settingsBytes = settings.Scrambled();
  std::string domains;
  for (std::uint32_t d = 0; d < DomainCount; ++d)
    domains += records::DomainEntry("domain" + std::to_string(d) + ".example");
  core::WriteFileAtomic(config + "settings.cfg", settingsBytes.data(), settingsBytes.size());
  core::WriteFileAtomic(config + "domains.cfg", domains.data(), domains.size());
  const bench::MachineText installDir(sender::SendingInstallKey, sender::InstallDirValue, root);
  if (!sender::LoadSendingConfig() || init(root.c_str()) != 0) return 1;

  const auto [ours, theirs] = bench::AlternatingMedians(
      21, [] { return sender::LoadSendingConfig() ? 1 : 0; }, [&] { return init(root.c_str()); });
  bench::Report("sender_load_1000_domains", ours, theirs);
  core::DeleteDirectory(root, "*.*", true);
  return 0;
}
