// Private profile (INI) files with the semantics of the Windows profile API.
// Used for the load parameter file, "plexmon.ini", project files and the
// per-user settings file on platforms without a registry.
//
// Semantics: section and key names compare case-insensitively, the first
// matching section and the first matching key in it win, lines starting with
// ';' are comments, values have surrounding blanks (and one pair of enclosing
// double quotes) removed, nothing is escaped. A write keeps every other line,
// comment and the order of the file; it creates the file, the section and the
// key as needed. A bare file name (no folder part) means a file in the system
// folder, as on Windows.
#pragma once

#include <QString>
#include <QStringList>

namespace fwl {

// Reads `key` of `section` from `file`. Missing file, section or key yields
// `defaultValue`. The result is cut to `bufferSize - 1` characters, as a
// caller's fixed buffer would cut it (bufferSize <= 0 gives "").
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferSize,
                                const QString& file);

// Reads an integer: leading blanks, an optional sign and decimal digits; text
// that does not start with a digit reads as 0; a missing key gives the default.
int GetPrivateProfileInt(const QString& section, const QString& key, int defaultValue,
                         const QString& file);

// Writes `key`=`value` into `section` of `file`. Returns false when the file
// cannot be written (callers of the profile API ignore that).
bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& file);

// Removes `key` from `section` (the Windows call with a null value).
bool DeletePrivateProfileKey(const QString& section, const QString& key, const QString& file);

// Names of the sections in file order (duplicates listed once, first spelling).
QStringList GetPrivateProfileSectionNames(const QString& file);

// Keys of `section` in file order (first section of that name only).
QStringList GetPrivateProfileKeys(const QString& section, const QString& file);

// The file a profile call with `file` acts on: a bare name is placed in the
// system folder, anything with a folder part is used as it is.
QString ResolveProfilePath(const QString& file);

}  // namespace fwl
