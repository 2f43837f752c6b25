// Platform test, child processes with captured output, processor affinity,
// this machine's addresses, registry texts and the host program's folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Loads the IP Helper library (once, when the library starts) and frees it
// (when it stops). Without it GetLocalIPAddresses answers empty.
void InitPlatformUnit();
void DonePlatformUnit();

// True on the Windows NT family (platform id 2).
bool IsWindowsNT();
// Test seam: -1 asks the system again, 0 or 1 force the answer.
void SetWindowsNTOverride(int value);

// Runs command with standard output and standard error captured into output;
// true when the process was started. A command of the form
// "command line|user;domain;password" runs as that user, and is not run at
// all when that logon fails.
bool ExecuteAndCapture(const std::string& command, std::uint32_t& exitCode, int showMode, std::string& output);

// Test seam for the logon of ExecuteAndCapture; nullptr restores LogonUserA.
using LogonFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, DWORD, DWORD, PHANDLE);
void SetLogonFunction(LogonFunction function);

// Whether Windows accepts the user's password (network logon, type 3, the
// default provider); the token is closed at once. Goes through the logon seam.
bool CheckWindowsLogon(const std::string& user, const char* domain, const std::string& password);

// Binds the process to the first processor, or with allProcessors to every
// processor of the system.
void SetProcessAffinity(bool allProcessors);

// This machine's IPv4 addresses, each followed by ";".
std::string GetLocalIPAddresses();

// A string value under a key of HKEY_LOCAL_MACHINE (a path without a leading
// "\"); empty when the key or value is missing, the value is no string (with
// plainOnly: no REG_SZ) or longer than 1,024 bytes. The stored text need not
// end in a zero; it ends at its first zero or at its stored length.
std::string ReadMachineRegistryText(const std::string& keyPath, const char* valueName, bool plainOnly = false);
// The same of a key the caller keeps open: false when the value cannot be
// read as such a text (text is then empty).
bool ReadRegistryText(HKEY key, const char* valueName, bool plainOnly, std::string& text);

// Folder of the host program's executable, with a trailing "\".
std::string HostProgramFolder();

}  // namespace core
