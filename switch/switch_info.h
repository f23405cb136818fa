// What a managed switch says about itself on its information page, and the
// rules that turn that into decisions: which board it is, which image names
// fit the board, which brand it carries and whether its running firmware
// can take an Ethernet-only install.
#pragma once

#include <QByteArray>
#include <QString>

namespace fwl {

// The information page's fields; empty unless found in the reply.
struct SwitchInfo {
  QString kvid;     // the key and its value: "kvid=" + identity text
  QString boardId;  // value only, e.g. "kvni79524" or "KORVID KVNI855T"
  QString fwRev;    // value only, the running firmware version, e.g. "3.7.2"
  QString uboot;    // value only; kept, not used by the install
};

// Board indexes and their names.
inline constexpr int kSwitchBoardUnknown = -1;
inline constexpr int kSwitchBoard855T = 0;
inline constexpr int kSwitchBoard79524 = 1;
inline constexpr int kSwitchBoard9260 = 2;
inline constexpr char kSwitchBoardNames[3][10] = {"kvni855t", "kvni79524", "kvni9260"};

// Parses an information page body. Each key is searched from the start of
// the body (case-sensitive); a value runs up to the next "&". "kvid=" keeps
// the key; a "kvid=", "boardId=" or "fwRev=" without a following "&" is left
// empty; "uboot=" without one runs to the end of the body minus its last
// character (the line break the page ends with).
SwitchInfo ParseSwitchInfo(const QByteArray& body);

// 0, 1 or 2 for "kvni855t", "kvni79524", "kvni9260" compared exactly; else
// the second space-separated field of `boardId` in lower case compared the
// same way ("KORVID KVNI855T" is 0); -1 for anything else.
int BoardIndexFromId(const QString& boardId);

// The brand of the switch: the second "."-separated field of `kvid`, at most
// 100 characters; "" when the text holds no ".".
QString SwitchOemName(const QString& kvid);

// Firmware image stems of a board (filesystem, boot) and its bundle section
// ('A', 'B', 'C'); empty / 0 for an unknown board.
QString BoardFilesystemStem(int board);
QString BoardBootStem(int board);
quint32 BoardBundleSection(int board);

// Answer of BoardImageNames.
struct BoardImageNamesResult {
  bool alreadyFits = false;  // the chosen name is the board's own
  QString filesystemName;    // otherwise the names to use (bare, no extension),
  QString bootName;          // both empty when the name holds no "kvimage"
};

// Which images a board needs, given the chosen filesystem image `path`: the
// file name without folder and extension, in lower case, with its "kvimage"
// variant turned into the board's ("kvimage", "kvimagea" or "kvimage9") and
// the boot name made from that ("kvimageb", "kvimageba", "kvimageb9").
BoardImageNamesResult BoardImageNames(int board, const QString& path);

// Major and minor number of a running firmware version ("3.7.2" -> 3, 7;
// missing or non-numeric fields count 0).
void FirmwareMajorMinor(const QString& fwRev, int* major, int* minor);
// True when `fwRev` is 3.7 or later: the first version whose switches can
// install firmware fetched over the network by themselves.
bool SupportsEthernetOnlyLoad(const QString& fwRev);

}  // namespace fwl
