#pragma once
// Registry key of the installation under HKEY_LOCAL_MACHINE (no leading "\"):
// its value "InstallDir" names the installation folder.
namespace core {

inline constexpr const char* InstallKey = "Software\\Velmora\\Parlinex MailServer";

}  // namespace core
