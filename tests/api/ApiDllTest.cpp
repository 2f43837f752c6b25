// The real Api.dll loaded by a host program: the host's folder is tried
// first, then the registry's installation folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "core/platform/System.h"
#include "tests/api/Fixture.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Copies the host and the library into the folder and runs the host there.
std::string RunHost(const std::string& folder) {
  EXPECT_TRUE(CopyFileA(Env("VM_API_DLL").c_str(), (folder + "Api.dll").c_str(), FALSE));
  EXPECT_TRUE(CopyFileA(Env("VM_API_HOST").c_str(), (folder + "api_host.exe").c_str(), FALSE));
  std::uint32_t exitCode = 0;
  std::string output;
  EXPECT_TRUE(core::ExecuteAndCapture("\"" + folder + "api_host.exe\"", exitCode, SW_HIDE, output));
  EXPECT_EQ(exitCode, 0u) << output;
  return output;
}

TEST(LibraryStart, TheHostProgramsFolderIsTriedFirst) {
  fixture::TempInstall install("host");
  fixture::TempInstall other("registry");
  fixture::SettingsFile settings;
  settings.U16(fixture::settings::Id12, 555);
  fixture::WriteSettings(install.config(), settings);
  fixture::WriteSettings(other.config(), fixture::SettingsFile());
  fixture::InstallDirValue value(other.root());
  std::string output = RunHost(install.root());
  EXPECT_NE(output.find("config=" + install.config()), std::string::npos) << output;
  EXPECT_NE(output.find("get12=2 value=555"), std::string::npos) << output;
}

TEST(LibraryStart, TheRegistryFolderIsTheFallback) {
  fixture::TempInstall host("bare");
  fixture::TempInstall install("installdir");
  fixture::SettingsFile settings;
  settings.U16(fixture::settings::Id12, 606);
  fixture::WriteSettings(install.config(), settings);
  // Without the trailing "\": the library adds it.
  std::string root = install.root();
  root.pop_back();
  fixture::InstallDirValue value(root);
  std::string output = RunHost(host.root());
  EXPECT_NE(output.find("config=" + install.config()), std::string::npos) << output;
  EXPECT_NE(output.find("get12=2 value=606"), std::string::npos) << output;
}

TEST(LibraryStart, WithoutAnySettingsTheLibraryStillCountsAsInitialised) {
  fixture::TempInstall host("nothing");
  fixture::InstallDirValue value("");
  std::string output = RunHost(host.root());
  // The built-in default of id 12, not -5.
  EXPECT_NE(output.find("get12=2 value=300"), std::string::npos) << output;
}

}  // namespace
