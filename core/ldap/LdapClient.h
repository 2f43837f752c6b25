#pragma once
// The outside LDAP client library (file "LDAP32.Dll" unless a test names
// another), bound at run time: nine cdecl entry points of the RFC 1823
// interface, all of them or none. It is loaded once, under the binding's own
// lock, and stays loaded while the library runs: the authentication binds on
// other threads, holding no lock of the table. Only the unit's finalisation
// frees it.
//
// Every call goes through an LdapConnection, which keeps a shared hold of the
// binding from ldap_open to ldap_unbind, so the client cannot be freed under
// a conversation, and runs each call under the exception guard: a client
// that raises answers as a failed call.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ldap/DirectoryEntry.h"
#include "core/platform/Handles.h"

namespace core {

// LDAP result codes this unit answers or looks at.
inline constexpr int LdapSuccess = 0;
inline constexpr int LdapNoSuchObject = 32;
inline constexpr int LdapInvalidCredentials = 49;
inline constexpr int LdapAlreadyExists = 68;
inline constexpr int LdapServerDown = 81;
inline constexpr int LdapLocalError = 82;
inline constexpr int LdapTimeout = 85;
inline constexpr std::int32_t LdapNoMessage = -1;  // message id of a request that was not sent

// Test seam: the client's file name ("LDAP32.Dll"). Takes effect at the next
// load.
void SetLdapClientFile(const std::string& file);

// True when the client is loaded afterwards. Loads it unless loaded; a file
// that lacks one of the nine entry points is freed again and answers false.
bool LoadLDAPLibrary();
// Frees the client after every conversation has ended (unit finalisation).
void UnloadLDAPLibrary();
bool IsLDAPLibraryLoaded();

struct LdapSession;
// Ends a conversation through the client's ldap_unbind. Only an LdapConnection
// calls it, while it holds the binding; that is why this kind of handle is
// declared here and not among the system's handles.
void UnbindLdapSession(LdapSession* session) noexcept;
using UniqueLdapSession = UniqueResource<LdapSession*, &UnbindLdapSession>;

// One conversation with a directory server.
class LdapConnection {
 public:
  // Holds the binding and calls ldap_open(host, port) when a client is loaded.
  LdapConnection(const std::string& host, std::uint16_t port);
  bool loaded() const { return loaded_; }
  bool open() const { return session_.valid(); }
  // Whether the caller converts its stored 8-bit texts to UTF-8 before
  // handing them over. The system's own client converts them itself, from
  // the ANSI code page, so it gets them as stored (converted twice, byte
  // 0xE9 would arrive as C3 83 C2 A9). The calls below pass texts as given.
  bool convertsToUtf8() const { return toUtf8_; }

  // Requests: the message id, LdapNoMessage when not sent.
  std::int32_t Bind(const std::string& dn, const std::string& password);
  std::int32_t Apply(const std::string& dn, LdapModifications& modifications, bool modify);
  std::int32_t Delete(const std::string& dn);
  // The result code of one request, waiting at most seconds: LdapTimeout
  // when none arrived, LdapServerDown when the client gave up.
  int WaitResult(std::int32_t message, long seconds = 5);
  // ldap_bind_s: the bind's result code.
  int BindNow(const std::string& dn, const std::string& password);

 private:
  SharedSrwGuard hold_;
  bool loaded_ = false;
  bool toUtf8_ = false;
  UniqueLdapSession session_;  // declared last: unbound before the hold ends
};

// A text of the directory's own (from "slapd.conf", or a DN copied from the
// directory) in the client's form. Well-formed UTF-8 is what the directory
// holds: as it stands for a client handed UTF-8, in the ANSI code page for
// the system's client, which converts it back (as it stands when the code
// page cannot hold it). Anything else is an 8-bit text as stored and is
// converted like the account's texts.
std::string ClientDirectoryText(std::string_view text, bool toUtf8);

// The LDAP bind of the authentication: opens server:port, binds bindName with
// the password and unbinds. The bind's result code; LdapServerDown when no
// connection opened, LdapLocalError when no client is loaded.
int LdapBindCheck(const std::string& server, std::uint16_t port, const std::string& bindName,
                  const std::string& password);

}  // namespace core
