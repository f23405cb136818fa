// Folders the system works in: the system folder (home of "ZebUtil.ini" and
// "plexmon.ini", the Windows directory on Windows), the temporary folder, and
// unique names made from "XXXXXX" templates.
#pragma once

#include <QString>

namespace fwl {

// The system folder, ending in the native separator. FWLOADER_SYSTEM_DIR
// overrides it (tests and side-by-side installs); otherwise
// <generic data dir>/Brantwell/. The folder is created when missing.
QString SystemFolder();

// The temporary folder, ending in the native separator; "" when none can be
// had (callers then fall back to the installation folder).
QString TempFolder();

// Replaces the trailing "XXXXXX" of `templ` with six characters so that no
// file or folder of that name exists. Returns "" when `templ` does not end in
// "XXXXXX" or no free name is found.
QString MakeUniqueName(const QString& templ);

// Creates a new folder from a template ending in "XXXXXX" (like mkdtemp) and
// returns its path ending in the native separator, or "" on failure.
QString MakeUniqueFolder(const QString& templ);

// Appends the native separator unless `folder` already ends with one.
QString WithTrailingSeparator(const QString& folder);

}  // namespace fwl
