#pragma once
// The field tables of the four record families that setting ids address:
// the settings record, the account record, the domain record and the
// remote-account record. Each row gives the id, kind, width, offset and the
// initial value in the built-in settings image. SettingTables.cpp checks the
// tables at compile time (unique ids, fields inside their record, no overlaps
// but the variant blocks and the documented shared fields).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/config/SettingFields.h"

namespace core {

namespace field_rows {

// One helper per kind of row; each takes the row's name first.
constexpr FieldDef Text(std::string_view name, std::int32_t id, std::uint32_t chars, std::uint32_t offset,
                        std::string_view initial = {}, FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::String, chars, offset, 0, initial, group, 0, name};
}
constexpr FieldDef Flag(std::string_view name, std::int32_t id, std::uint32_t offset, std::uint32_t initial = 0,
                        FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::Bool, 1, offset, initial, {}, group, 0, name};
}
constexpr FieldDef Uint(std::string_view name, std::int32_t id, std::uint32_t bytes, std::uint32_t offset,
                        std::uint32_t initial = 0, FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::Int, bytes, offset, initial, {}, group, 0, name};
}
constexpr FieldDef Bytes(std::string_view name, std::int32_t id, std::uint32_t size, std::uint32_t offset) {
  return {id, FieldKind::Block, size, offset, 0, {}, FieldGroup::Common, 0, name};
}
constexpr FieldDef Day(std::string_view name, std::int32_t id, std::uint32_t offset,
                       FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::Date, 8, offset, 0, {}, group, 0, name};
}
constexpr FieldDef Alias(std::string_view name, std::int32_t id, std::int32_t target) {
  return {id, FieldKind::Alias, static_cast<std::uint32_t>(target), 0, 0, {}, FieldGroup::Common, 0, name};
}
constexpr FieldDef Fixed(std::string_view name, std::int32_t id, std::string_view text) {
  return {id, FieldKind::FixedText, static_cast<std::uint32_t>(text.size()), 0, 0, text, FieldGroup::Common, 0, name};
}
constexpr FieldDef Special(std::string_view name, std::int32_t id, FieldKind kind, std::uint32_t width,
                           std::uint32_t offset, FieldGroup group = FieldGroup::Common, std::uint32_t offset2 = 0) {
  return {id, kind, width, offset, 0, {}, group, offset2, name};
}

}  // namespace field_rows

// Placeholder mail host name of a fresh installation.
inline constexpr std::string_view DefaultHostName = "localhost";

// Settings record, by configuration setting id.
inline constexpr FieldDef ConfigFields[] = {
    field_rows::Text("HostName", 0, 127, 0, DefaultHostName),
    field_rows::Text("List1", 1, 127, 1304),
    field_rows::Text("List2", 2, 127, 1048),
    field_rows::Text("TempFolder", 4, 255, 256, "temp\\"),
    field_rows::Text("MailFolder", 5, 255, 512, "mail\\"),
    field_rows::Text("LogsFolder", 6, 255, 768, "logs\\"),
    field_rows::Alias("HostNameAlias", 11, 0),
    field_rows::Uint("Seconds12", 12, 2, 242, 300).InitialAtLoad(),
    field_rows::Uint("Number13", 13, 1, 244),
    field_rows::Uint("ScannerMode", 14, 1, 245),
    field_rows::Flag("ScannerFlag", 15, 246, 1),
    field_rows::Flag("Flag16", 16, 247, 1),
    field_rows::Uint("LdapsPort", 17, 2, 248, 636).InitialAtLoad(),
    field_rows::Uint("LdapPort", 18, 2, 250, 389).InitialAtLoad(),
    field_rows::Uint("OdmrPort", 19, 2, 252, 366).InitialAtLoad(),
    field_rows::Flag("Flag20", 20, 254, 1),
    field_rows::Alias("TempFolderAlias", 22, 4),
    field_rows::Alias("MailFolderAlias", 23, 5),
    field_rows::Alias("LogsFolderAlias", 24, 6),
    field_rows::Uint("Pop3Port", 25, 2, 1024, 110),
    field_rows::Uint("Pop3sPort", 26, 2, 1026, 995).InitialAtLoad(),
    field_rows::Uint("SmtpPort", 27, 2, 1028, 25),
    field_rows::Uint("ImapsPort", 28, 2, 1030, 993).InitialAtLoad(),
    field_rows::Uint("Number29", 29, 4, 1032, 60),
    field_rows::Uint("Number30", 30, 2, 1036, 32000),
    field_rows::Uint("ImapPort", 31, 2, 1038, 143).InitialAtLoad(),
    field_rows::Uint("Number32", 32, 2, 1040, 32001).InitialAtLoad(),
    field_rows::Uint("Number33", 33, 2, 1042),
    field_rows::Flag("Flag34", 34, 1044),
    field_rows::Flag("Flag35", 35, 1045),
    field_rows::Flag("Flag36", 36, 1046),
    field_rows::Uint("Number37", 37, 1, 1047, 1),
    field_rows::Alias("List2Alias", 38, 2),
    field_rows::Text("LdapServerList", 39, 127, 1176),
    field_rows::Alias("List1Alias", 40, 1),
    field_rows::Flag("Flag41", 41, 1432, 1),
    field_rows::Flag("Flag42", 42, 1433),
    field_rows::Flag("Flag43", 43, 1434),
    field_rows::Flag("Flag44", 44, 1435),
    field_rows::Flag("Flag45", 45, 1436),
    field_rows::Flag("Flag46", 46, 1437),
    field_rows::Flag("Flag47", 47, 1438),
    field_rows::Flag("Flag48", 48, 1439),
    field_rows::Uint("Number49", 49, 4, 1440),
    field_rows::Flag("Flag50", 50, 1444),
    field_rows::Flag("Flag51", 51, 1445),
    field_rows::Uint("Number52", 52, 4, 1448, 7),
    field_rows::Flag("Flag53", 53, 1452),
    field_rows::Flag("Flag54", 54, 1453),
    field_rows::Flag("Flag55", 55, 1454),
    field_rows::Uint("Number56", 56, 2, 1456, 1024).InitialAtLoad(),
    field_rows::Uint("Number57", 57, 2, 1458, 32768).InitialAtLoad(),
    field_rows::Flag("Flag58", 58, 1460),
    field_rows::Uint("SmtpsPort", 59, 2, 1461, 465).InitialAtLoad(),
    field_rows::Flag("Flag60", 60, 1463),
    field_rows::Flag("Flag61", 61, 1464, 1),
    field_rows::Flag("Flag62", 62, 1465),
    field_rows::Flag("Flag63", 63, 1466),
    field_rows::Flag("Flag64", 64, 1467),
    field_rows::Flag("Flag65", 65, 1468),
    field_rows::Flag("Flag66", 66, 1469),
    field_rows::Flag("Flag67", 67, 1470),
    field_rows::Flag("Flag68", 68, 1471),
    field_rows::Flag("WelcomeMessages", 69, 1473),
    field_rows::Flag("LdapServerOn", 70, 1474),
    field_rows::Flag("Flag71", 71, 1475),
    field_rows::Uint("Number72", 72, 1, 1476, 5).InitialAtLoad(),
    field_rows::Text("DaemonAddress", 73, 31, 1477, "MAILER-DAEMON").InitialAtLoad(),
    field_rows::Text("DaemonName", 74, 31, 1509, "Mail Delivery Subsystem").InitialAtLoad(),
    field_rows::Flag("Flag75", 75, 1541),
    field_rows::Flag("FirstProcessorOnly", 76, 1542, 1),
    field_rows::Flag("DefaultsOn", 77, 1543),  // SetUserDefaults and SetDomainDefaults without Force
    field_rows::Uint("Number78", 78, 4, 1544, 8).InitialAtLoad(),
    field_rows::Uint("Number79", 79, 4, 1548, 1).InitialAtLoad(),
    field_rows::Uint("Number80", 80, 4, 1552, 256).InitialAtLoad(),
    field_rows::Uint("Number81", 81, 4, 1556, 40).InitialAtLoad(),
    field_rows::Uint("Number82", 82, 4, 1560, 40).InitialAtLoad(),
    field_rows::Uint("Number83", 83, 2, 1564, 40).InitialAtLoad(),
    field_rows::Uint("Number84", 84, 2, 1566, 5).InitialAtLoad(),
    field_rows::Uint("Number85", 85, 4, 1568),
    field_rows::Flag("Flag86", 86, 1572),
    field_rows::Uint("Number87", 87, 4, 1576),
    field_rows::Flag("SearchOtherDomains", 88, 1580),
    field_rows::Flag("Flag89", 89, 1581),
    field_rows::Text("List90", 90, 255, 1582),
    field_rows::Flag("Flag91", 91, 1840),
    field_rows::Flag("Flag92", 92, 1841),
    field_rows::Text("Text93", 93, 255, 1842),
    field_rows::Flag("Flag94", 94, 2098),
    field_rows::Text("Text95", 95, 255, 2099),
    field_rows::Flag("Flag96", 96, 2355),
    field_rows::Text("DbConnection", 97, 255, 2356),
    field_rows::Flag("Flag98", 98, 2612),
    field_rows::Text("Text99", 99, 255, 2613),
    field_rows::Uint("Number100", 100, 1, 2869, 3),
    field_rows::Uint("Number101", 101, 4, 2870).ZeroAtLoadAbove(1000),
    field_rows::Uint("Number102", 102, 4, 2874).ZeroAtLoadAbove(1000),
    field_rows::Uint("Number103", 103, 4, 2878).ZeroAtLoadAbove(5242880),
    field_rows::Uint("Number104", 104, 4, 2882),
    field_rows::Uint("Number105", 105, 1, 3126),
    field_rows::Text("Text106", 106, 127, 3127),
    field_rows::Text("Text107", 107, 125, 3255),
    field_rows::Flag("ConnectDatabase", 108, 3381),
    field_rows::Flag("LdapSync", 109, 3382),
    field_rows::Uint("Number110", 110, 1, 3383),
    field_rows::Flag("Flag111", 111, 3384),
    field_rows::Flag("Flag112", 112, 3628),
    field_rows::Flag("Flag113", 113, 3629),
    field_rows::Flag("Flag114", 114, 3630, 1),
    field_rows::Flag("FullAddressLogin", 115, 3631),
    field_rows::Flag("Flag116", 116, 3632),
    field_rows::Uint("StorageMode", 117, 1, 3633, 1),
    field_rows::Flag("Flag118", 118, 3634, 1),
    field_rows::Flag("Flag119", 119, 3636),
    field_rows::Flag("Flag120", 120, 3637),
    field_rows::Flag("LoginNormalisation", 121, 3638),
    field_rows::Flag("Flag122", 122, 3639),
    field_rows::Flag("Flag123", 123, 3640),
    field_rows::Text("List124", 124, 127, 3641),
    field_rows::Text("Text125", 125, 127, 3769),
    field_rows::Flag("Flag126", 126, 3900),
    field_rows::Text("Text127", 127, 127, 3901),
    field_rows::Text("Text128", 128, 127, 4029),
    field_rows::Text("Text129", 129, 127, 4157),
    field_rows::Uint("Number130", 130, 4, 4288),
    field_rows::Flag("Flag131", 131, 4576, 1),
    field_rows::Text("LocalNetworks", 132, 255, 4577, "127.0.0.1;192.168.*.*;10.*.*.*;172.16-31.*.*"),
    field_rows::Flag("Flag133", 133, 4833),
    field_rows::Uint("Number134", 134, 4, 4836),
    field_rows::Flag("Flag135", 135, 6888, 1),
    field_rows::Flag("Flag136", 136, 6889),
    field_rows::Flag("Flag137", 137, 6890, 1),
    field_rows::Flag("DomainTableIn96ByteLayout", 138, 7001, 1),
    field_rows::Flag("Flag139", 139, 7003),
    field_rows::Uint("Number140", 140, 1, 7004, 45),
    field_rows::Flag("Flag141", 141, 7005, 1),
    field_rows::Flag("Flag142", 142, 7006),
    field_rows::Flag("Flag143", 143, 7007),
    field_rows::Uint("Number144", 144, 1, 7008, 20).InitialAtLoad(),
    field_rows::Flag("Flag145", 145, 7009),
    field_rows::Uint("Number146", 146, 4, 7012, 8).InitialAtLoad(),
    field_rows::Uint("Number147", 147, 4, 7016, 4).InitialAtLoad(),
    field_rows::Bytes("Block148", 148, 2048, 4840),
    field_rows::Bytes("Block149", 149, 284, 4292),
    field_rows::Flag("Flag150", 150, 1472, 1),
    field_rows::Uint("Number151", 151, 2, 240),
    field_rows::Uint("Number152", 152, 1, 3635, 2),
    field_rows::Flag("Flag153", 153, 3627),
    field_rows::Text("ArchiveFolder", 154, 240, 3385),
    field_rows::Flag("PasswordPolicyOn", 155, 6998),
    field_rows::Uint("MinPasswordLength", 156, 1, 6999),
    field_rows::Uint("MinPasswordDigits", 157, 1, 7000),
    field_rows::Flag("Flag158", 158, 6997),
    field_rows::Flag("Flag159", 159, 237, 1),
    field_rows::Flag("Flag160", 160, 6994),
    field_rows::Flag("DomainShield", 161, 232),
    field_rows::Special("ConfigFolderText", 170, FieldKind::ConfigFolder, 255, 0),
    field_rows::Fixed("VersionLibrary", 4096, "version.dll"),
};

// Fields of the settings record that no setting id reaches but that the
// configuration store, the account functions or the built-in image use.
inline constexpr FieldDef ConfigNoIdFields[] = {
    field_rows::Flag("PunycodeNames", -1, 149),    // "xn--" labels of domain names are decoded
    field_rows::Flag("AliasCheck", -1, 159),       // policy: a password may not be the mailbox name or an alias
    field_rows::Uint("DbNoLock", -1, 1, 152),      // calls into the database back end take no lock
    field_rows::Flag("AddressLiterals", -1, 155),  // "[192.0.2.1]" names a domain
    field_rows::Uint("PortAt160", -1, 2, 160, 5229).InitialAtLoad(),
    field_rows::Uint("InstantMessagingServerPort", -1, 2, 167, 5269).InitialAtLoad(),
    field_rows::Uint("ByteAt196", -1, 1, 196, 1),
    field_rows::Flag("DirectorySyncEnabled", -1, 207),  // with id 109: accounts mirrored into the directory
    field_rows::Text("MessagePrefixPart", -1, 2, 201),  // tail of the message-file name prefix
    field_rows::Uint("NumberAt222", -1, 4, 222).DefaultAtLoad(40),
    field_rows::Uint("InstantMessagingPort", -1, 2, 228, 5222).InitialAtLoad(),
    field_rows::Uint("InstantMessagingTlsPort", -1, 2, 230, 5223).InitialAtLoad(),
    field_rows::Uint("RecordCacheSizeMb", -1, 4, 233).DefaultAtLoad(10),  // record-cache size in megabytes
    field_rows::Uint("ByteAt238", -1, 1, 238, 1),
    field_rows::Uint("ByteAt7002", -1, 1, 7002, 1),
    field_rows::Uint("DomainCount", -1, 4, 7020),           // count of served domains
    field_rows::Flag("LockoutOn", -1, 20433),               // failed logins lock an account
    field_rows::Uint("LockoutThreshold", -1, 4, 20436, 5),  // signed; <= 0: no lockout
    field_rows::Uint("LockoutMinutes", -1, 4, 20440, 10),
    field_rows::Uint("MinOtherCharacters", -1, 1, 20445),  // policy: neither digit nor letter
    field_rows::Flag("MaskAllPasswords", -1, 20848),       // mask every account password on reading
    field_rows::Flag("ShowFlaggedPasswords", -1, 20849),   // show passwords of accounts flagged at 1022 / 1284
};

// Account record, by account setting id. Bytes 0-515 are common; the rest
// is a variant whose layout depends on the account kind in byte 0.
inline constexpr FieldDef AccountFields[] = {
    field_rows::Uint("AccountKind", 0, 1, 0),
    field_rows::Uint("AntiSpamIndex", 1, 2, 2),
    field_rows::Special("TwoPartTextHead", 2, FieldKind::TextHead, 254, 4),
    field_rows::Special("TwoPartTextTail", 5, FieldKind::TextTail, 254, 4),
    field_rows::Flag("ServicesAccessAV", 4, 259),
    field_rows::Text("AliasList", 3, 255, 260),
    // Kind 0: ordinary user with a mailbox.
    field_rows::Text("MailboxName", 16, 127, 516, {}, FieldGroup::Kind0),
    field_rows::Uint("Number17", 17, 1, 644, 0, FieldGroup::Kind0),
    field_rows::Flag("Flag18", 18, 645, 0, FieldGroup::Kind0),
    field_rows::Day("Date19", 19, 648, FieldGroup::Kind0),
    field_rows::Flag("XEnvelopeTo", 60, 656, 0, FieldGroup::Kind0),
    field_rows::Flag("AllowSelfConfiguration", 21, 657, 0, FieldGroup::Kind0),
    field_rows::Flag("Flag22", 22, 658, 0, FieldGroup::Kind0),
    field_rows::Special("Value660Low", 23, FieldKind::LowHalf, 2, 660, FieldGroup::Kind0),
    field_rows::Special("ExpiresIfInactive", 65, FieldKind::HighHalf, 2, 660, FieldGroup::Kind0),
    field_rows::Uint("AuthMode", 24, 1, 664, 0, FieldGroup::Kind0),
    field_rows::Uint("MailboxType", 25, 1, 665, 0, FieldGroup::Kind0),
    field_rows::Text("Text26", 26, 91, 666, {}, FieldGroup::Kind0),
    field_rows::Uint("MaxMessageSize", 27, 4, 760, 0, FieldGroup::Kind0),
    field_rows::Flag("Flag63", 63, 764, 0, FieldGroup::Kind0),
    field_rows::Flag("NoMailingList", 59, 765, 0, FieldGroup::Kind0),
    field_rows::Uint("SpamFolderMode", 64, 1, 766, 0, FieldGroup::Kind0),
    field_rows::Uint("Number67", 67, 1, 767, 0, FieldGroup::Kind0),
    field_rows::Flag("Flag30", 30, 769, 0, FieldGroup::Kind0),
    field_rows::Flag("DeleteAccountWhenExpired", 31, 770, 0, FieldGroup::Kind0),
    field_rows::Flag("Flag32", 32, 771, 0, FieldGroup::Kind0),
    field_rows::Special("Password", 33, FieldKind::Password, 127, 772, FieldGroup::Kind0),
    field_rows::Text("AuthModeValue", 34, 116, 900, {}, FieldGroup::Kind0),
    field_rows::Special("NumberSendLimit", 58, FieldKind::SplitInt, 4, 1018, FieldGroup::Kind0, 1024),
    field_rows::Flag("UserType2", 36, 1022, 0, FieldGroup::Kind0),
    field_rows::Uint("MegabyteSendLimit", 57, 2, 1026, 0, FieldGroup::Kind0),
    field_rows::Text("MailboxPath", 37, 255, 1028, {}, FieldGroup::Kind0),
    field_rows::Flag("UserType3", 38, 1284, 0, FieldGroup::Kind0),
    field_rows::Flag("LimitMailboxSize", 39, 1285, 0, FieldGroup::Kind0),
    field_rows::Uint("LimitMailboxSizeValue", 40, 4, 1288, 0, FieldGroup::Kind0),
    field_rows::Flag("Flag62", 62, 1292, 0, FieldGroup::Kind0),
    field_rows::Special("ResponderMode", 42, FieldKind::LowBits, 1, 1293, FieldGroup::Kind0),
    field_rows::Special("ResponderBits", 66, FieldKind::HighBits, 1, 1293, FieldGroup::Kind0),
    field_rows::Uint("ServiceRestrictions", 43, 1, 1294, 0, FieldGroup::Kind0),
    field_rows::Flag("SkipWelcomeMessages", 44, 1295, 0, FieldGroup::Kind0),
    field_rows::Text("Text45", 45, 255, 1296, {}, FieldGroup::Kind0),
    field_rows::Text("RespondWithFile", 46, 127, 1552, {}, FieldGroup::Kind0),
    field_rows::Text("Text61", 61, 63, 1680, {}, FieldGroup::Kind0),
    field_rows::Text("IncomingCopy", 47, 127, 1808, {}, FieldGroup::Kind0),
    field_rows::Text("OutgoingCopy", 48, 127, 1936, {}, FieldGroup::Kind0),
    field_rows::Text("ValidityWarningFile", 49, 255, 2064, {}, FieldGroup::Kind0),
    field_rows::Flag("DeleteMailOlder", 50, 2320, 0, FieldGroup::Kind0),
    field_rows::Uint("DeleteMailOlderValue", 51, 4, 2324, 0, FieldGroup::Kind0),
    field_rows::Flag("Flag52", 52, 2328, 0, FieldGroup::Kind0),
    field_rows::Uint("Number53", 53, 4, 2332, 0, FieldGroup::Kind0),
    field_rows::Text("Text54", 54, 255, 2336, {}, FieldGroup::Kind0),
    field_rows::Text("Text55", 55, 127, 2592, {}, FieldGroup::Kind0),
    // Kind 3.
    field_rows::Text("Text160", 160, 255, 516, {}, FieldGroup::Kind3),
    field_rows::Flag("Flag161", 161, 772, 0, FieldGroup::Kind3),
    field_rows::Uint("Number162", 162, 4, 776, 0, FieldGroup::Kind3),
    field_rows::Flag("Flag163", 163, 780, 0, FieldGroup::Kind3),
    field_rows::Flag("Flag164", 164, 781, 0, FieldGroup::Kind3),
    field_rows::Flag("Flag165", 165, 782, 0, FieldGroup::Kind3),
    field_rows::Flag("Flag166", 166, 783, 0, FieldGroup::Kind3),
    field_rows::Flag("Flag167", 167, 784, 0, FieldGroup::Kind3),
    field_rows::Flag("Flag168", 168, 786, 0, FieldGroup::Kind3),
    field_rows::Text("Text169", 169, 255, 1045, {}, FieldGroup::Kind3),
    field_rows::Flag("Flag170", 170, 1301, 0, FieldGroup::Kind3),
    field_rows::Uint("Number171", 171, 1, 1302, 0, FieldGroup::Kind3),
    field_rows::Uint("Number172", 172, 1, 1303, 0, FieldGroup::Kind3),
    field_rows::Text("Kind3CompanionFile", 173, 255, 1304, {}, FieldGroup::Kind3),
    field_rows::Text("Text175", 175, 255, 1560, {}, FieldGroup::Kind3),
    field_rows::Text("Text176", 176, 255, 1816, {}, FieldGroup::Kind3),
    field_rows::Text("Text177", 177, 255, 2072, {}, FieldGroup::Kind3),
    field_rows::Text("Text178", 178, 255, 2328, {}, FieldGroup::Kind3),
    field_rows::Flag("Flag174", 174, 2584, 0, FieldGroup::Kind3),
    // Kind 4.
    field_rows::Uint("Number192", 192, 1, 516, 0, FieldGroup::Kind4),
    field_rows::Text("Text193", 193, 255, 517, {}, FieldGroup::Kind4),
    field_rows::Text("Kind4CompanionFile", 194, 255, 773, {}, FieldGroup::Kind4),
    field_rows::Uint("Number195", 195, 1, 1029, 0, FieldGroup::Kind4),
    field_rows::Text("Text196", 196, 255, 1030, {}, FieldGroup::Kind4),
    field_rows::Flag("Flag197", 197, 1286, 0, FieldGroup::Kind4),
    field_rows::Text("Text198", 198, 255, 1287, {}, FieldGroup::Kind4),
    field_rows::Uint("Number199", 199, 1, 1543, 0, FieldGroup::Kind4),
    // Ids 80 to 84.
    field_rows::Text("DataFileAt516", 80, 255, 516, {}, FieldGroup::Ids80),  // kind 5: its data file
    field_rows::Text("Text81", 81, 255, 772, {}, FieldGroup::Ids80),
    field_rows::Text("Text82", 82, 255, 1028, {}, FieldGroup::Ids80),
    field_rows::Uint("Number83", 83, 1, 1284, 0, FieldGroup::Ids80),
    field_rows::Text("Text84", 84, 255, 1285, {}, FieldGroup::Ids80),
    // Ids 112 to 146.
    field_rows::Text("Text112", 112, 255, 516, {}, FieldGroup::Ids112),
    field_rows::Flag("Flag113", 113, 772, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag114", 114, 773, 0, FieldGroup::Ids112),
    field_rows::Text("Text115", 115, 255, 774, {}, FieldGroup::Ids112),
    field_rows::Flag("Flag116", 116, 1030, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag117", 117, 1031, 0, FieldGroup::Ids112),
    field_rows::Text("Text118", 118, 255, 1032, {}, FieldGroup::Ids112),
    field_rows::Uint("Number119", 119, 1, 1288, 0, FieldGroup::Ids112),
    field_rows::Text("Text120", 120, 255, 1289, {}, FieldGroup::Ids112),
    field_rows::Text("Text121", 121, 255, 1545, {}, FieldGroup::Ids112),
    field_rows::Flag("Flag122", 122, 1801, 0, FieldGroup::Ids112),
    field_rows::Text("Text123", 123, 127, 1802, {}, FieldGroup::Ids112),
    field_rows::Flag("Flag124", 124, 1930, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag125", 125, 1931, 0, FieldGroup::Ids112),
    field_rows::Uint("Number126", 126, 4, 1932, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag127", 127, 1936, 0, FieldGroup::Ids112),
    field_rows::Text("Text128", 128, 127, 1937, {}, FieldGroup::Ids112),
    field_rows::Text("Text129", 129, 255, 2065, {}, FieldGroup::Ids112),
    field_rows::Flag("Flag130", 130, 2321, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag131", 131, 2322, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag132", 132, 2323, 0, FieldGroup::Ids112),
    field_rows::Text("Text133", 133, 127, 2324, {}, FieldGroup::Ids112),
    field_rows::Flag("Flag134", 134, 2452, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag135", 135, 2453, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag136", 136, 2454, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag137", 137, 2455, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag138", 138, 2456, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag139", 139, 2457, 0, FieldGroup::Ids112),
    field_rows::Uint("Number140", 140, 1, 2458, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag141", 141, 2459, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag142", 142, 2460, 0, FieldGroup::Ids112),
    field_rows::Uint("Number143", 143, 1, 2461, 0, FieldGroup::Ids112),
    field_rows::Flag("Flag144", 144, 2462, 0, FieldGroup::Ids112),
    field_rows::Uint("Number145", 145, 4, 2464, 0, FieldGroup::Ids112),
    field_rows::Uint("Number146", 146, 1, 2468, 0, FieldGroup::Ids112),
    // Ids 208 to 214.
    field_rows::Text("Text213", 213, 255, 516, {}, FieldGroup::Ids208),
    field_rows::Uint("Number212", 212, 1, 772, 0, FieldGroup::Ids208),
    field_rows::Flag("Flag210", 210, 773, 0, FieldGroup::Ids208),
    field_rows::Flag("Flag211", 211, 774, 0, FieldGroup::Ids208),
    field_rows::Flag("Flag209", 209, 775, 0, FieldGroup::Ids208),
    field_rows::Text("Text208", 208, 127, 776, {}, FieldGroup::Ids208),
    field_rows::Flag("Flag214", 214, 904, 0, FieldGroup::Ids208),
};

// Domain record, by domain setting id.
inline constexpr FieldDef DomainFields[] = {
    field_rows::Text("DomainName", 0, 56, 0),
    field_rows::Uint("DomainDiskQuota", 11, 4, 57),
    field_rows::Flag("DomainAV", 10, 61),
    field_rows::Uint("DomainAdminLimit", 9, 2, 62),
    field_rows::Uint("Number1", 1, 1, 64),
    field_rows::Text("Text3", 3, 62, 65),
    field_rows::Text("AdministratorAlias", 4, 255, 128),
    field_rows::Text("AdministratorEmail", 5, 255, 384),
    field_rows::Uint("ForwardUnknown", 6, 1, 640),
    field_rows::Text("ForwardUnknownTo", 7, 234, 641),
    field_rows::Flag("Flag19", 19, 876),
    field_rows::Flag("Flag18", 18, 877),
    field_rows::Flag("DomainChallengeResponse", 20, 878),
    field_rows::Flag("DomainMIAS", 17, 879),
    field_rows::Flag("Flag16", 16, 880),
    field_rows::Uint("DomainMailboxSize", 12, 4, 881),
    field_rows::Uint("DomainMBLimit", 13, 4, 885),
    field_rows::Uint("DomainNumberLimit", 14, 4, 889),
    field_rows::Uint("DomainMaxMessageSize", 15, 4, 893),
    field_rows::Flag("InfoToAdmin", 8, 897),
    field_rows::Flag("Flag21", 21, 898),
    field_rows::Day("Date22", 22, 899),
    field_rows::Flag("Flag23", 23, 907),
    field_rows::Uint("Number24", 24, 4, 908),
    field_rows::Flag("Flag25", 25, 912),
};

// Remote-account record, by remote-account setting id.
inline constexpr FieldDef RemoteAccountFields[] = {
    field_rows::Text("Text224", 224, 63, 0),     field_rows::Text("Text225", 225, 191, 64),
    field_rows::Text("Text226", 226, 255, 540),  field_rows::Text("Text227", 227, 127, 796),
    field_rows::Flag("Flag228", 228, 924),       field_rows::Text("Text229", 229, 63, 925),
    field_rows::Text("Text230", 230, 60, 989),   field_rows::Flag("Flag245", 245, 1050),
    field_rows::Flag("Flag231", 231, 1051),      field_rows::Flag("Flag232", 232, 1052),
    field_rows::Flag("Flag233", 233, 1053),      field_rows::Text("Text234", 234, 127, 1054),
    field_rows::Text("Text235", 235, 63, 1182),  field_rows::Flag("Flag236", 236, 1270),
    field_rows::Flag("Flag237", 237, 1271),      field_rows::Flag("Flag238", 238, 1272),
    field_rows::Flag("Flag239", 239, 1273),      field_rows::Uint("Number240", 240, 2, 1274),
    field_rows::Uint("Number241", 241, 2, 1276), field_rows::Flag("Flag242", 242, 1310),
    field_rows::Flag("Flag243", 243, 1311),      field_rows::Text("StateFile", 244, 255, 1312),
};

// ---- Lookup by id --------------------------------------------------------

namespace field_index {

// Ids of a family are dense from `Base` on; ids outside [Base, Base + N) are
// rare (config 4096) and found by a scan.
template <std::size_t N>
struct Index {
  std::int32_t base = 0;
  std::array<std::int16_t, N> row{};
};

template <std::size_t N, std::size_t M>
consteval Index<N> Build(const FieldDef (&table)[M], std::int32_t base) {
  Index<N> index;
  index.base = base;
  for (auto& slot : index.row)
    slot = -1;
  for (std::size_t i = 0; i < M; ++i) {
    const std::int32_t slot = table[i].id - base;
    if (slot >= 0 && static_cast<std::size_t>(slot) < N)
      index.row[static_cast<std::size_t>(slot)] = static_cast<std::int16_t>(i);
  }
  return index;
}

inline constexpr auto Config = Build<171>(ConfigFields, 0);
inline constexpr auto Account = Build<215>(AccountFields, 0);
inline constexpr auto Domain = Build<26>(DomainFields, 0);
inline constexpr auto RemoteAccount = Build<22>(RemoteAccountFields, 224);

template <std::size_t N>
constexpr int Find(const Index<N>& index, std::span<const FieldDef> table, std::int32_t id) {
  const std::int64_t slot = static_cast<std::int64_t>(id) - index.base;
  if (slot >= 0 && slot < static_cast<std::int64_t>(N)) return index.row[static_cast<std::size_t>(slot)];
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace field_index

constexpr std::span<const FieldDef> FieldTable(SettingFamily family) {
  switch (family) {
    case SettingFamily::Config:
      return ConfigFields;
    case SettingFamily::Account:
      return AccountFields;
    case SettingFamily::Domain:
      return DomainFields;
    case SettingFamily::RemoteAccount:
      return RemoteAccountFields;
  }
  return {};
}

// The row number in FieldTable(family) of an id, aliases resolved to their
// field; -1 when the id does not exist.
constexpr int FindSettingRow(SettingFamily family, std::int32_t id) {
  switch (family) {
    case SettingFamily::Config: {
      const int row = field_index::Find(field_index::Config, ConfigFields, id);
      if (row >= 0 && ConfigFields[row].kind == FieldKind::Alias) {
        return field_index::Find(field_index::Config, ConfigFields, static_cast<std::int32_t>(ConfigFields[row].width));
      }
      return row;
    }
    case SettingFamily::Account:
      return field_index::Find(field_index::Account, AccountFields, id);
    case SettingFamily::Domain:
      return field_index::Find(field_index::Domain, DomainFields, id);
    case SettingFamily::RemoteAccount:
      return field_index::Find(field_index::RemoteAccount, RemoteAccountFields, id);
  }
  return -1;
}

// The row of an id (aliases resolved), or null when the id does not exist.
inline const FieldDef* FindSettingField(SettingFamily family, std::int32_t id) {
  const int row = FindSettingRow(family, id);
  return row < 0 ? nullptr : &FieldTable(family)[static_cast<std::size_t>(row)];
}

// A stored field of the settings record by its row name (rows with and
// without an id), checked while compiling.
consteval FieldRef ConfigField(std::string_view name) {
  for (const FieldDef& f : ConfigFields) {
    if (f.name == name && IsStored(f.kind)) return RefOf(f);
  }
  for (const FieldDef& f : ConfigNoIdFields) {
    if (f.name == name) return RefOf(f);
  }
  throw "no stored configuration field with this name";
}

// A field of the account record by its row name.
consteval const FieldDef& AccountField(std::string_view name) {
  for (const FieldDef& f : AccountFields) {
    if (f.name == name) return f;
  }
  throw "no account field with this name";
}

}  // namespace core
