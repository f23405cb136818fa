// Per-user settings remembered between runs, and the OEM string table.
// Every section, value name and default lives in one table (settings.cpp);
// callers name a value and get the table's default when it was never stored.
// On Windows the values live in the registry under
// HKEY_CURRENT_USER\Software\Brantwell\FirmwareLoader; elsewhere in one INI
// file per user, <config dir>/Brantwell/FirmwareLoader.ini, with the same
// section and value names.
#pragma once

#include <QString>

namespace fwl {

// Section names, spelled as stored.
inline constexpr char kSectionPages[] = "fwloadpages";
inline constexpr char kSectionConsolePipe[] = "console pipe";
inline constexpr char kSectionLoad[] = "load";
inline constexpr char kSectionEthOnlyLoad[] = "eth only load";
inline constexpr char kSectionTftp[] = "tftp settings";

// Reads an integer value. A value that was never stored reads as the table's
// default; values with a range in the table ("prod type", "method
// selection") read as 0 when stored outside it. A value not in the table
// reads as 0. Reads never fail.
int GetSettingInt(const QString& section, const QString& value);
// As above with a caller's default for a value missing from the store (the
// table's range still applies).
int GetSettingInt(const QString& section, const QString& value, int defaultValue);

// Reads a text value; never-stored values give the table's default ("" for
// values not in the table).
QString GetSettingText(const QString& section, const QString& value);
QString GetSettingText(const QString& section, const QString& value,
                       const QString& defaultValue);

// Stores a value. Failures are ignored, as the settings store promises.
void SetSettingInt(const QString& section, const QString& value, int data);
void SetSettingText(const QString& section, const QString& value, const QString& data);

// The file that holds the settings on this platform. FWLOADER_SETTINGS_FILE
// overrides the default location; SetSettingsFile() overrides both (tests).
QString SettingsFilePath();
void SetSettingsFile(const QString& path);

// Text of OEM string-table entry 61300..61310 (and 57344, the application
// name); "" for any other entry.
QString OemString(int entry);

// OEM entries by meaning.
inline constexpr int kOemIniFileName = 61302;    // "plexmon.ini"
inline constexpr int kOemCompanyKey = 61304;     // "Brantwell"
inline constexpr int kOemBundleWord = 61306;     // "KORVID"
inline constexpr int kOemOldFirmware = 61308;    // "1"
inline constexpr int kOemBundleExtension = 61310;  // ".fwb"
inline constexpr int kAppNameEntry = 57344;      // "FirmwareLoader"

// The maker's installation folder: "Path32" of section "Installation
// Directory" in "plexmon.ini" (buffer 1024), or "".
QString InstallationFolder();

// Folder that holds the program, ending in the native separator.
QString ProgramFolder();

}  // namespace fwl
