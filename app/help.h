// Which help pages the wizard shows and where they are. The station loader
// (started for a station or project) and the switch loader have a help file
// each; pages open them at their own context id.
#pragma once

#include <QString>
#include <QUrl>

namespace fwl {

inline constexpr char kStationHelpFile[] = "zebfirmload.hlp";
inline constexpr char kSwitchHelpFile[] = "msfirmload.hlp";

// Help context of a dialog or page: the resource base plus its dialog id
// (page 1 = dialog 107 -> 0x2006B).
inline constexpr int kHelpContextBase = 0x20000;
constexpr int HelpContextForDialog(int dialogId) { return kHelpContextBase + dialogId; }

// Folder of the help pages, ending in the native separator: FWLOADER_HELP_DIR
// when set, else HelpFolderFor(ProgramFolder()).
QString HelpFolder();

// Where a program in `programFolder` finds its help pages: "help" next to it
// when that exists (a copied program, or one in its build tree, where the
// build links the source's docs/help there), else the "help" folder of its
// installed data (InstalledDataFolder). When neither exists, the installed
// place all the same: the program knows no path of the tree it was built in.
QString HelpFolderFor(const QString& programFolder);

// The data an installed program brings (help pages, samples): the folder at
// the same place relative to `programFolder` as the install puts it relative
// to the programs ("../share/firmware-loader/" from "bin/"), ending in the
// native separator; empty when there is no such folder. Relative, so an
// install moved or unpacked elsewhere still finds its data.
QString InstalledDataFolder(const QString& programFolder);

// The program's default help path: HelpFolder() + "FirmwareLoader.hlp".
QString DefaultHelpPath();

// The help path for a start with these options: the default path's folder
// (everything up to and including its last separator) plus "zebfirmload.hlp"
// when `station` or `project` is non-empty, else "msfirmload.hlp".
QString ChooseHelpPath(const QString& defaultHelpPath, const QString& station,
                       const QString& project);

// The page actually shown for a help path: same folder and base name, the
// extension replaced by ".html" (our help is plain HTML).
QString HelpPagePath(const QString& helpPath);

// Where help on `contextId` is: the page's file URL with the anchor
// "ctx-<contextId>". Every page of the help files carries such an anchor.
QUrl HelpUrl(const QString& helpPath, int contextId);

}  // namespace fwl
