// The stored records as the tests write and read them: sizes, field offsets
// and the scramble key written out here, apart from the library's own tables,
// so that a wrong offset or key byte in the library cannot hide in its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace records {

inline constexpr std::uint8_t Key[16] = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                                         0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};

inline constexpr std::size_t SettingsSize = 20864, DomainSize = 913, AccountSize = 2848, RemoteSize = 1828,
                             EntrySize = 96;

// "settings.cfg": byte offsets, named by what the tests use them for.
namespace settings {
// Fields the tests name by what they do.
inline constexpr std::size_t HostList = 0, PunycodeNames = 149, ScannerMode = 245, ScannerFlag = 246,
                             NoBackEndLock = 152, AddressLiterals = 155, PrefixText = 201, DirectorySync = 207,
                             DomainShield = 232, CacheMegabytes = 233, TempFolder = 256, MailFolder = 512,
                             LogsFolder = 768, WelcomeMessages = 1473, LdapServer = 1474, FirstProcessor = 1542,
                             BackEndConnection = 2356, ConnectBackEnd = 3381, DirectoryConfigured = 3382,
                             ArchiveFolder = 3385, StorageMode = 3633, DomainLayout = 7001, DomainCount = 7020,
                             OldDomainTable = 7024, LegacyDomains = 20344, Lockout = 20433, LockoutThreshold = 20436,
                             LockoutMinutes = 20440, MaskPasswords = 20848, ShowFlaggedPasswords = 20849;
// The password policy.
inline constexpr std::size_t NotAnAlias = 159, MinLength = 6999, MinDigits = 7000, MinOthers = 20445;
// Fields known by their setting id alone.
inline constexpr std::size_t Id1 = 1304, Id2 = 1048, Id12 = 242, Id31 = 1038, Id39 = 1176, Id50 = 1444, Id61 = 1464,
                             Id73 = 1477, Id74 = 1509, Id90 = 1582, Id101 = 2870, Id102 = 2874, Id103 = 2878,
                             Id106 = 3127, Id124 = 3641, Id88 = 1580;
}  // namespace settings
// "domain.cfg".
namespace domain {
inline constexpr std::size_t Text0 = 0, DiskQuota = 57, Id1 = 64, AdminAlias = 128, AdminEmail = 384,
                             ForwardUnknown = 640, MailboxSize = 881, MaxMessageSize = 893, InfoToAdmin = 897,
                             Last = 912;
}
// "users.cfg": the common part, then the ordinary user's block.
namespace user {
inline constexpr std::size_t Kind = 0, TwoPart = 4, Aliases = 260, Mailbox = 516, Expiry = 660, AuthMode = 664,
                             MailboxType = 665, MaxMessageSize = 760, SpamIndexed = 764, Password = 772,
                             AuthValue = 900, SendLimitHigh = 1018, Flag1022 = 1022, SendLimitLow = 1024,
                             MailboxPath = 1028, Flag1284 = 1284, Respond = 1293, Services = 1294, NoWelcome = 1295;
// The companion files of kinds 3, 4 and 5.
inline constexpr std::size_t Kind3File = 1304, Kind4File = 773, Kind5File = 516;
}  // namespace user
// "remote.cfg".
namespace remote {
inline constexpr std::size_t Name = 0, StateFile = 1312;
}
// One entry of "domains.cfg".
namespace entry {
inline constexpr std::size_t Name = 0, Address = 92;
}

// XOR with the key from key index start; the same call undoes it.
inline std::string Scrambled(std::string bytes, std::size_t start = 0) {
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(bytes[i] ^ Key[(start + i) % 16]);
  return bytes;
}
// Record files of fixed-size records scramble each record from index 0.
inline std::string ScrambledRecords(std::string bytes, std::size_t size) {
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(bytes[i] ^ Key[i % size % 16]);
  return bytes;
}

// Little-endian fields and short strings over any record in memory.
inline void PutText(std::uint8_t* record, std::size_t offset, const std::string& text) {
  record[offset] = static_cast<std::uint8_t>(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    record[offset + 1 + i] = static_cast<std::uint8_t>(text[i]);
}
inline std::string TextAt(const std::uint8_t* record, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(record + offset + 1), record[offset]);
}
inline std::uint32_t UAt(const std::uint8_t* record, std::size_t offset, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i)
    v = v << 8 | record[offset + i];
  return v;
}

// A record under construction, or one read back.
struct Record {
  std::string bytes;
  explicit Record(std::size_t size) : bytes(size, '\0') {}
  Record& U8(std::size_t at, std::uint32_t v) { return Put(at, v, 1); }
  Record& U16(std::size_t at, std::uint32_t v) { return Put(at, v, 2); }
  Record& U32(std::size_t at, std::uint32_t v) { return Put(at, v, 4); }
  Record& Text(std::size_t at, const std::string& text) {
    PutText(data(), at, text);
    return *this;
  }
  std::uint32_t ReadU8(std::size_t at) const { return UAt(data(), at, 1); }
  std::uint32_t ReadU16(std::size_t at) const { return UAt(data(), at, 2); }
  std::uint32_t ReadU32(std::size_t at) const { return UAt(data(), at, 4); }
  std::string ReadText(std::size_t at) const { return TextAt(data(), at); }
  std::string Scrambled() const { return records::Scrambled(bytes); }
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(bytes.data()); }
  const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

 private:
  Record& Put(std::size_t at, std::uint32_t v, int width) {
    for (int i = 0; i < width; ++i)
      bytes[at + i] = static_cast<char>(v >> (8 * i));
    return *this;
  }
};

// The settings record of a current installation (domain table in its 96-byte
// layout, all processors) serving the given number of domains.
struct SettingsFile : Record {
  explicit SettingsFile(std::uint32_t domains = 0) : Record(SettingsSize) {
    U8(settings::DomainLayout, 1).U32(settings::DomainCount, domains);
  }
};

// An account record from the fields the tests set; Make fills a zeroed
// array or vector of the record's size.
struct NewAccount {
  std::string aliases{}, mailbox{}, password{}, path{}, name{}, authValue{};
  std::uint8_t kind = 0, authMode = 0;
  template <class Bytes>
  Bytes Make() const {
    Bytes r{};
    if constexpr (requires { r.resize(AccountSize); }) r.resize(AccountSize);
    std::uint8_t* p = reinterpret_cast<std::uint8_t*>(r.data());
    p[user::Kind] = kind;
    p[user::AuthMode] = authMode;
    PutText(p, user::TwoPart, name);
    PutText(p, user::Aliases, aliases);
    PutText(p, user::Mailbox, mailbox);
    PutText(p, user::Password, password);
    PutText(p, user::MailboxPath, path);
    PutText(p, user::AuthValue, authValue);
    return r;
  }
};

// One "domains.cfg" entry, and the entries for these names (address 0.0.0.0).
inline std::string DomainEntry(const std::string& name, std::uint32_t address = 0) {
  Record e(EntrySize);
  e.Text(entry::Name, name).U32(entry::Address, address);
  return e.bytes;
}
// The address as written in the file: its first byte is the first of the
// dotted form.
inline std::uint32_t Dotted(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return a | b << 8 | c << 16 | static_cast<std::uint32_t>(d) << 24;
}
inline std::string DomainEntries(std::initializer_list<std::string> names) {
  std::string all;
  for (const std::string& name : names)
    all += DomainEntry(name);
  return all;
}

}  // namespace records
