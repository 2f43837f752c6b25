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

constexpr FieldDef Text(std::int32_t id, std::uint32_t chars, std::uint32_t offset, std::string_view initial = {},
                        FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::String, chars, offset, 0, initial, group, 0};
}
constexpr FieldDef Flag(std::int32_t id, std::uint32_t offset, std::uint32_t initial = 0,
                        FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::Bool, 1, offset, initial, {}, group, 0};
}
constexpr FieldDef Uint(std::int32_t id, std::uint32_t bytes, std::uint32_t offset, std::uint32_t initial = 0,
                        FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::Int, bytes, offset, initial, {}, group, 0};
}
constexpr FieldDef Bytes(std::int32_t id, std::uint32_t size, std::uint32_t offset) {
  return {id, FieldKind::Block, size, offset, 0, {}, FieldGroup::Common, 0};
}
constexpr FieldDef Day(std::int32_t id, std::uint32_t offset, FieldGroup group = FieldGroup::Common) {
  return {id, FieldKind::Date, 8, offset, 0, {}, group, 0};
}
constexpr FieldDef Alias(std::int32_t id, std::int32_t target) {
  return {id, FieldKind::Alias, static_cast<std::uint32_t>(target), 0, 0, {}, FieldGroup::Common, 0};
}
constexpr FieldDef Special(std::int32_t id, FieldKind kind, std::uint32_t width, std::uint32_t offset,
                           FieldGroup group = FieldGroup::Common, std::uint32_t offset2 = 0) {
  return {id, kind, width, offset, 0, {}, group, offset2};
}

constexpr FieldGroup K0 = FieldGroup::Kind0;
constexpr FieldGroup K3 = FieldGroup::Kind3;
constexpr FieldGroup K4 = FieldGroup::Kind4;
constexpr FieldGroup B80 = FieldGroup::Ids80;
constexpr FieldGroup B112 = FieldGroup::Ids112;
constexpr FieldGroup B208 = FieldGroup::Ids208;

}  // namespace field_rows

// Placeholder mail host name of a fresh installation.
inline constexpr std::string_view DefaultHostName = "localhost";

// Settings record, by configuration setting id.
inline constexpr FieldDef ConfigFields[] = {
    field_rows::Text(0, 127, 0, DefaultHostName),
    field_rows::Text(1, 127, 1304),
    field_rows::Text(2, 127, 1048),
    field_rows::Text(4, 255, 256, "temp\\"),
    field_rows::Text(5, 255, 512, "mail\\"),
    field_rows::Text(6, 255, 768, "logs\\"),
    field_rows::Alias(11, 0),
    field_rows::Uint(12, 2, 242, 300),
    field_rows::Uint(13, 1, 244),
    field_rows::Uint(14, 1, 245),
    field_rows::Flag(15, 246, 1),
    field_rows::Flag(16, 247, 1),
    field_rows::Uint(17, 2, 248, 636),
    field_rows::Uint(18, 2, 250, 389),
    field_rows::Uint(19, 2, 252, 366),
    field_rows::Flag(20, 254, 1),
    field_rows::Alias(22, 4),
    field_rows::Alias(23, 5),
    field_rows::Alias(24, 6),
    field_rows::Uint(25, 2, 1024, 110),
    field_rows::Uint(26, 2, 1026, 995),
    field_rows::Uint(27, 2, 1028, 25),
    field_rows::Uint(28, 2, 1030, 993),
    field_rows::Uint(29, 4, 1032, 60),
    field_rows::Uint(30, 2, 1036, 32000),
    field_rows::Uint(31, 2, 1038, 143),
    field_rows::Uint(32, 2, 1040, 32001),
    field_rows::Uint(33, 2, 1042),
    field_rows::Flag(34, 1044),
    field_rows::Flag(35, 1045),
    field_rows::Flag(36, 1046),
    field_rows::Uint(37, 1, 1047, 1),
    field_rows::Alias(38, 2),
    field_rows::Text(39, 127, 1176),
    field_rows::Alias(40, 1),
    field_rows::Flag(41, 1432, 1),
    field_rows::Flag(42, 1433),
    field_rows::Flag(43, 1434),
    field_rows::Flag(44, 1435),
    field_rows::Flag(45, 1436),
    field_rows::Flag(46, 1437),
    field_rows::Flag(47, 1438),
    field_rows::Flag(48, 1439),
    field_rows::Uint(49, 4, 1440),
    field_rows::Flag(50, 1444),
    field_rows::Flag(51, 1445),
    field_rows::Uint(52, 4, 1448, 7),
    field_rows::Flag(53, 1452),
    field_rows::Flag(54, 1453),
    field_rows::Flag(55, 1454),
    field_rows::Uint(56, 2, 1456, 1024),
    field_rows::Uint(57, 2, 1458, 32768),
    field_rows::Flag(58, 1460),
    field_rows::Uint(59, 2, 1461, 465),
    field_rows::Flag(60, 1463),
    field_rows::Flag(61, 1464, 1),
    field_rows::Flag(62, 1465),
    field_rows::Flag(63, 1466),
    field_rows::Flag(64, 1467),
    field_rows::Flag(65, 1468),
    field_rows::Flag(66, 1469),
    field_rows::Flag(67, 1470),
    field_rows::Flag(68, 1471),
    field_rows::Flag(69, 1473),
    field_rows::Flag(70, 1474),
    field_rows::Flag(71, 1475),
    field_rows::Uint(72, 1, 1476, 5),
    field_rows::Text(73, 31, 1477, "MAILER-DAEMON"),
    field_rows::Text(74, 31, 1509, "Mail Delivery Subsystem"),
    field_rows::Flag(75, 1541),
    field_rows::Flag(76, 1542, 1),
    field_rows::Flag(77, 1543),
    field_rows::Uint(78, 4, 1544, 8),
    field_rows::Uint(79, 4, 1548, 1),
    field_rows::Uint(80, 4, 1552, 256),
    field_rows::Uint(81, 4, 1556, 40),
    field_rows::Uint(82, 4, 1560, 40),
    field_rows::Uint(83, 2, 1564, 40),
    field_rows::Uint(84, 2, 1566, 5),
    field_rows::Uint(85, 4, 1568),
    field_rows::Flag(86, 1572),
    field_rows::Uint(87, 4, 1576),
    field_rows::Flag(88, 1580),
    field_rows::Flag(89, 1581),
    field_rows::Text(90, 255, 1582),
    field_rows::Flag(91, 1840),
    field_rows::Flag(92, 1841),
    field_rows::Text(93, 255, 1842),
    field_rows::Flag(94, 2098),
    field_rows::Text(95, 255, 2099),
    field_rows::Flag(96, 2355),
    field_rows::Text(97, 255, 2356),
    field_rows::Flag(98, 2612),
    field_rows::Text(99, 255, 2613),
    field_rows::Uint(100, 1, 2869, 3),
    field_rows::Uint(101, 4, 2870),
    field_rows::Uint(102, 4, 2874),
    field_rows::Uint(103, 4, 2878),
    field_rows::Uint(104, 4, 2882),
    field_rows::Uint(105, 1, 3126),
    field_rows::Text(106, 127, 3127),
    field_rows::Text(107, 125, 3255),
    field_rows::Flag(108, 3381),
    field_rows::Flag(109, 3382),
    field_rows::Uint(110, 1, 3383),
    field_rows::Flag(111, 3384),
    field_rows::Flag(112, 3628),
    field_rows::Flag(113, 3629),
    field_rows::Flag(114, 3630, 1),
    field_rows::Flag(115, 3631),
    field_rows::Flag(116, 3632),
    field_rows::Uint(117, 1, 3633, 1),
    field_rows::Flag(118, 3634, 1),
    field_rows::Flag(119, 3636),
    field_rows::Flag(120, 3637),
    field_rows::Flag(121, 3638),
    field_rows::Flag(122, 3639),
    field_rows::Flag(123, 3640),
    field_rows::Text(124, 127, 3641),
    field_rows::Text(125, 127, 3769),
    field_rows::Flag(126, 3900),
    field_rows::Text(127, 127, 3901),
    field_rows::Text(128, 127, 4029),
    field_rows::Text(129, 127, 4157),
    field_rows::Uint(130, 4, 4288),
    field_rows::Flag(131, 4576, 1),
    field_rows::Text(132, 255, 4577, "127.0.0.1;192.168.*.*;10.*.*.*;172.16-31.*.*"),
    field_rows::Flag(133, 4833),
    field_rows::Uint(134, 4, 4836),
    field_rows::Flag(135, 6888, 1),
    field_rows::Flag(136, 6889),
    field_rows::Flag(137, 6890, 1),
    field_rows::Flag(138, 7001, 1),
    field_rows::Flag(139, 7003),
    field_rows::Uint(140, 1, 7004, 45),
    field_rows::Flag(141, 7005, 1),
    field_rows::Flag(142, 7006),
    field_rows::Flag(143, 7007),
    field_rows::Uint(144, 1, 7008, 20),
    field_rows::Flag(145, 7009),
    field_rows::Uint(146, 4, 7012, 8),
    field_rows::Uint(147, 4, 7016, 4),
    field_rows::Bytes(148, 2048, 4840),
    field_rows::Bytes(149, 284, 4292),
    field_rows::Flag(150, 1472, 1),
    field_rows::Uint(151, 2, 240),
    field_rows::Uint(152, 1, 3635, 2),
    field_rows::Flag(153, 3627),
    field_rows::Text(154, 240, 3385),
    field_rows::Flag(155, 6998),
    field_rows::Uint(156, 1, 6999),
    field_rows::Uint(157, 1, 7000),
    field_rows::Flag(158, 6997),
    field_rows::Flag(159, 237, 1),
    field_rows::Flag(160, 6994),
    field_rows::Flag(161, 232),
    field_rows::Special(170, FieldKind::ConfigFolder, 255, 0),
    {4096, FieldKind::FixedText, 11, 0, 0, "version.dll", FieldGroup::Common, 0},
};

// Fields of the settings record that no setting id reaches but that the
// configuration store, the account functions or the built-in image use.
inline constexpr FieldDef ConfigNoIdFields[] = {
    field_rows::Uint(-1, 1, 152),  // calls into the database back end take no lock
    field_rows::Uint(-1, 2, 160, 5229), field_rows::Uint(-1, 2, 167, 5269),
    field_rows::Uint(-1, 1, 196, 1),    field_rows::Text(-1, 2, 201),  // tail of the message-file name prefix
    field_rows::Uint(-1, 4, 222),       field_rows::Uint(-1, 2, 228, 5222),
    field_rows::Uint(-1, 2, 230, 5223), field_rows::Uint(-1, 4, 233),  // record-cache size in megabytes
    field_rows::Uint(-1, 1, 238, 1),    field_rows::Uint(-1, 1, 7002, 1),
    field_rows::Uint(-1, 4, 7020),  // count of served domains
    field_rows::Flag(-1, 20848),    // mask every account password on reading
    field_rows::Flag(-1, 20849),    // show passwords of accounts flagged at 1022 / 1284
};

// Account record, by account setting id. Bytes 0-515 are common; the rest
// is a variant whose layout depends on the account kind in byte 0.
inline constexpr FieldDef AccountFields[] = {
    field_rows::Uint(0, 1, 0),
    field_rows::Uint(1, 2, 2),
    field_rows::Special(2, FieldKind::TextHead, 254, 4),
    field_rows::Special(5, FieldKind::TextTail, 254, 4),
    field_rows::Flag(4, 259),
    field_rows::Text(3, 255, 260),
    // Kind 0: ordinary user with a mailbox.
    field_rows::Text(16, 127, 516, {}, field_rows::K0),
    field_rows::Uint(17, 1, 644, 0, field_rows::K0),
    field_rows::Flag(18, 645, 0, field_rows::K0),
    field_rows::Day(19, 648, field_rows::K0),
    field_rows::Flag(60, 656, 0, field_rows::K0),
    field_rows::Flag(21, 657, 0, field_rows::K0),
    field_rows::Flag(22, 658, 0, field_rows::K0),
    field_rows::Special(23, FieldKind::LowHalf, 2, 660, field_rows::K0),
    field_rows::Special(65, FieldKind::HighHalf, 2, 660, field_rows::K0),
    field_rows::Uint(24, 1, 664, 0, field_rows::K0),
    field_rows::Uint(25, 1, 665, 0, field_rows::K0),
    field_rows::Text(26, 91, 666, {}, field_rows::K0),
    field_rows::Uint(27, 4, 760, 0, field_rows::K0),
    field_rows::Flag(63, 764, 0, field_rows::K0),
    field_rows::Flag(59, 765, 0, field_rows::K0),
    field_rows::Uint(64, 1, 766, 0, field_rows::K0),
    field_rows::Uint(67, 1, 767, 0, field_rows::K0),
    field_rows::Flag(30, 769, 0, field_rows::K0),
    field_rows::Flag(31, 770, 0, field_rows::K0),
    field_rows::Flag(32, 771, 0, field_rows::K0),
    field_rows::Special(33, FieldKind::Password, 127, 772, field_rows::K0),
    field_rows::Text(34, 116, 900, {}, field_rows::K0),
    field_rows::Special(58, FieldKind::SplitInt, 4, 1018, field_rows::K0, 1024),
    field_rows::Flag(36, 1022, 0, field_rows::K0),
    field_rows::Uint(57, 2, 1026, 0, field_rows::K0),
    field_rows::Text(37, 255, 1028, {}, field_rows::K0),
    field_rows::Flag(38, 1284, 0, field_rows::K0),
    field_rows::Flag(39, 1285, 0, field_rows::K0),
    field_rows::Uint(40, 4, 1288, 0, field_rows::K0),
    field_rows::Flag(62, 1292, 0, field_rows::K0),
    field_rows::Special(42, FieldKind::LowBits, 1, 1293, field_rows::K0),
    field_rows::Special(66, FieldKind::HighBits, 1, 1293, field_rows::K0),
    field_rows::Uint(43, 1, 1294, 0, field_rows::K0),
    field_rows::Flag(44, 1295, 0, field_rows::K0),
    field_rows::Text(45, 255, 1296, {}, field_rows::K0),
    field_rows::Text(46, 127, 1552, {}, field_rows::K0),
    field_rows::Text(61, 63, 1680, {}, field_rows::K0),
    field_rows::Text(47, 127, 1808, {}, field_rows::K0),
    field_rows::Text(48, 127, 1936, {}, field_rows::K0),
    field_rows::Text(49, 255, 2064, {}, field_rows::K0),
    field_rows::Flag(50, 2320, 0, field_rows::K0),
    field_rows::Uint(51, 4, 2324, 0, field_rows::K0),
    field_rows::Flag(52, 2328, 0, field_rows::K0),
    field_rows::Uint(53, 4, 2332, 0, field_rows::K0),
    field_rows::Text(54, 255, 2336, {}, field_rows::K0),
    field_rows::Text(55, 127, 2592, {}, field_rows::K0),
    // Kind 3.
    field_rows::Text(160, 255, 516, {}, field_rows::K3),
    field_rows::Flag(161, 772, 0, field_rows::K3),
    field_rows::Uint(162, 4, 776, 0, field_rows::K3),
    field_rows::Flag(163, 780, 0, field_rows::K3),
    field_rows::Flag(164, 781, 0, field_rows::K3),
    field_rows::Flag(165, 782, 0, field_rows::K3),
    field_rows::Flag(166, 783, 0, field_rows::K3),
    field_rows::Flag(167, 784, 0, field_rows::K3),
    field_rows::Flag(168, 786, 0, field_rows::K3),
    field_rows::Text(169, 255, 1045, {}, field_rows::K3),
    field_rows::Flag(170, 1301, 0, field_rows::K3),
    field_rows::Uint(171, 1, 1302, 0, field_rows::K3),
    field_rows::Uint(172, 1, 1303, 0, field_rows::K3),
    field_rows::Text(173, 255, 1304, {}, field_rows::K3),
    field_rows::Text(175, 255, 1560, {}, field_rows::K3),
    field_rows::Text(176, 255, 1816, {}, field_rows::K3),
    field_rows::Text(177, 255, 2072, {}, field_rows::K3),
    field_rows::Text(178, 255, 2328, {}, field_rows::K3),
    field_rows::Flag(174, 2584, 0, field_rows::K3),
    // Kind 4.
    field_rows::Uint(192, 1, 516, 0, field_rows::K4),
    field_rows::Text(193, 255, 517, {}, field_rows::K4),
    field_rows::Text(194, 255, 773, {}, field_rows::K4),
    field_rows::Uint(195, 1, 1029, 0, field_rows::K4),
    field_rows::Text(196, 255, 1030, {}, field_rows::K4),
    field_rows::Flag(197, 1286, 0, field_rows::K4),
    field_rows::Text(198, 255, 1287, {}, field_rows::K4),
    field_rows::Uint(199, 1, 1543, 0, field_rows::K4),
    // Ids 80 to 84.
    field_rows::Text(80, 255, 516, {}, field_rows::B80),
    field_rows::Text(81, 255, 772, {}, field_rows::B80),
    field_rows::Text(82, 255, 1028, {}, field_rows::B80),
    field_rows::Uint(83, 1, 1284, 0, field_rows::B80),
    field_rows::Text(84, 255, 1285, {}, field_rows::B80),
    // Ids 112 to 146.
    field_rows::Text(112, 255, 516, {}, field_rows::B112),
    field_rows::Flag(113, 772, 0, field_rows::B112),
    field_rows::Flag(114, 773, 0, field_rows::B112),
    field_rows::Text(115, 255, 774, {}, field_rows::B112),
    field_rows::Flag(116, 1030, 0, field_rows::B112),
    field_rows::Flag(117, 1031, 0, field_rows::B112),
    field_rows::Text(118, 255, 1032, {}, field_rows::B112),
    field_rows::Uint(119, 1, 1288, 0, field_rows::B112),
    field_rows::Text(120, 255, 1289, {}, field_rows::B112),
    field_rows::Text(121, 255, 1545, {}, field_rows::B112),
    field_rows::Flag(122, 1801, 0, field_rows::B112),
    field_rows::Text(123, 127, 1802, {}, field_rows::B112),
    field_rows::Flag(124, 1930, 0, field_rows::B112),
    field_rows::Flag(125, 1931, 0, field_rows::B112),
    field_rows::Uint(126, 4, 1932, 0, field_rows::B112),
    field_rows::Flag(127, 1936, 0, field_rows::B112),
    field_rows::Text(128, 127, 1937, {}, field_rows::B112),
    field_rows::Text(129, 255, 2065, {}, field_rows::B112),
    field_rows::Flag(130, 2321, 0, field_rows::B112),
    field_rows::Flag(131, 2322, 0, field_rows::B112),
    field_rows::Flag(132, 2323, 0, field_rows::B112),
    field_rows::Text(133, 127, 2324, {}, field_rows::B112),
    field_rows::Flag(134, 2452, 0, field_rows::B112),
    field_rows::Flag(135, 2453, 0, field_rows::B112),
    field_rows::Flag(136, 2454, 0, field_rows::B112),
    field_rows::Flag(137, 2455, 0, field_rows::B112),
    field_rows::Flag(138, 2456, 0, field_rows::B112),
    field_rows::Flag(139, 2457, 0, field_rows::B112),
    field_rows::Uint(140, 1, 2458, 0, field_rows::B112),
    field_rows::Flag(141, 2459, 0, field_rows::B112),
    field_rows::Flag(142, 2460, 0, field_rows::B112),
    field_rows::Uint(143, 1, 2461, 0, field_rows::B112),
    field_rows::Flag(144, 2462, 0, field_rows::B112),
    field_rows::Uint(145, 4, 2464, 0, field_rows::B112),
    field_rows::Uint(146, 1, 2468, 0, field_rows::B112),
    // Ids 208 to 214.
    field_rows::Text(213, 255, 516, {}, field_rows::B208),
    field_rows::Uint(212, 1, 772, 0, field_rows::B208),
    field_rows::Flag(210, 773, 0, field_rows::B208),
    field_rows::Flag(211, 774, 0, field_rows::B208),
    field_rows::Flag(209, 775, 0, field_rows::B208),
    field_rows::Text(208, 127, 776, {}, field_rows::B208),
    field_rows::Flag(214, 904, 0, field_rows::B208),
};

// Domain record, by domain setting id.
inline constexpr FieldDef DomainFields[] = {
    field_rows::Text(0, 56, 0),    field_rows::Uint(11, 4, 57),   field_rows::Flag(10, 61),
    field_rows::Uint(9, 2, 62),    field_rows::Uint(1, 1, 64),    field_rows::Text(3, 62, 65),
    field_rows::Text(4, 255, 128), field_rows::Text(5, 255, 384), field_rows::Uint(6, 1, 640),
    field_rows::Text(7, 234, 641), field_rows::Flag(19, 876),     field_rows::Flag(18, 877),
    field_rows::Flag(20, 878),     field_rows::Flag(17, 879),     field_rows::Flag(16, 880),
    field_rows::Uint(12, 4, 881),  field_rows::Uint(13, 4, 885),  field_rows::Uint(14, 4, 889),
    field_rows::Uint(15, 4, 893),  field_rows::Flag(8, 897),      field_rows::Flag(21, 898),
    field_rows::Day(22, 899),      field_rows::Flag(23, 907),     field_rows::Uint(24, 4, 908),
    field_rows::Flag(25, 912),
};

// Remote-account record, by remote-account setting id.
inline constexpr FieldDef RemoteAccountFields[] = {
    field_rows::Text(224, 63, 0),     field_rows::Text(225, 191, 64), field_rows::Text(226, 255, 540),
    field_rows::Text(227, 127, 796),  field_rows::Flag(228, 924),     field_rows::Text(229, 63, 925),
    field_rows::Text(230, 60, 989),   field_rows::Flag(245, 1050),    field_rows::Flag(231, 1051),
    field_rows::Flag(232, 1052),      field_rows::Flag(233, 1053),    field_rows::Text(234, 127, 1054),
    field_rows::Text(235, 63, 1182),  field_rows::Flag(236, 1270),    field_rows::Flag(237, 1271),
    field_rows::Flag(238, 1272),      field_rows::Flag(239, 1273),    field_rows::Uint(240, 2, 1274),
    field_rows::Uint(241, 2, 1276),   field_rows::Flag(242, 1310),    field_rows::Flag(243, 1311),
    field_rows::Text(244, 255, 1312),
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

// A field of the settings record by configuration id, checked while compiling.
consteval FieldRef ConfigField(std::int32_t id) {
  const int row = FindSettingRow(SettingFamily::Config, id);
  if (row < 0 || !IsStored(ConfigFields[row].kind)) throw "no stored configuration field with this id";
  return RefOf(ConfigFields[row]);
}

// A field of the settings record that has no id, by its offset.
consteval FieldRef ConfigNoIdField(std::uint32_t offset) {
  for (const FieldDef& f : ConfigNoIdFields) {
    if (f.offset == offset) return RefOf(f);
  }
  throw "no such field without id";
}

// A field of the account record by account id.
consteval FieldRef AccountField(std::int32_t id) {
  const int row = FindSettingRow(SettingFamily::Account, id);
  if (row < 0) throw "no account field with this id";
  return RefOf(AccountFields[row]);
}

}  // namespace core
