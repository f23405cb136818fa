// Firmware-file rules shared by the serial load and the Ethernet-only
// upgrade: which image of an archive is loaded, the boot image that goes with
// a main image, and the images a firmware bundle holds for one processor.
#pragma once

#include <QString>
#include <QtGlobal>

namespace fwl {

class ArchiveTool;
class WorkFolderList;

// The boot image that goes with a main image: in the file-name part,
// "kvimage6" (or, when absent, "kvimage") becomes "kvimageb".
QString BootImagePathFor(const QString& imagePath);

// True when the path's extension is the bundle extension (any case).
bool IsBundlePath(const QString& path);
bool HasExtension(const QString& path);

// For a chosen file with an extension other than the bundle's: opens it as
// an archive and replaces `chosen` by its first entry that is a bundle or
// whose name begins with "kvimage_" or "kvimage6_", also in the load
// parameter file. 1 chosen (or nothing to do), 0 no such entry (no message),
// -1 unreadable archive ("Unable to read or extract archive " + path shown).
int ChooseFromArchive(ArchiveTool& archive, QString& chosen);

struct BundleImages {
  QString fsImage;
  QString bootImage;
};

// Extracts the boot image and the main image (the "6" image with
// `sixImage`) for processor folder `imageLetter` of the bundle at `path`
// into a new "fwbXXXXXX" folder of `folders`. `serialLoad` selects the
// serial load's form (it checks the temporary folder first and knows the
// switch bundle); the Ethernet-only upgrade knows station bundles only.
// Shows the message of the first failure and returns false.
bool UnpackBundleImages(const QString& path, quint32 imageLetter, bool sixImage, bool serialLoad,
                        WorkFolderList& folders, BundleImages& images);

}  // namespace fwl
