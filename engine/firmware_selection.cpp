#include "engine/firmware_selection.h"

#include <QDir>
#include <QFileInfo>
#include <memory>

#include "app/settings.h"
#include "catalogue/archive_tool.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "catalogue/work_folder_list.h"
#include "engine/load_parameter_file.h"
#include "platform/ini_file.h"
#include "platform/system_folders.h"
#include "platform/ui.h"

namespace fwl {
namespace {

constexpr char kMsgBadTemp[] = "Your Windows temporary directory is set improperly.";
constexpr char kMsgNoTempFolder[] = "Unable to create temporary directory.";
constexpr char kMsgUnreadableFirmware[] = "Unable to read firmware.";
constexpr char kMsgUnknownFirmwareType[] = "Error determining firmware type.";

struct BundleProduct {
  int code;
  const char* stem;
  const char* model;
};

constexpr BundleProduct kBundleProducts[] = {
    {kBundleLoZeb, "kvimage", "lozeb"},   {kBundleLoUZeb, "kvimage", "louzeb"},
    {kBundleLo6Zeb, "kvimage6", "lozeb"}, {kBundleRaZeb, "kvimage", "razeb"},
    {kBundleRa6Zeb, "kvimage6", "razeb"}, {kBundleMugt, "kvimage", "mugt"},
    {kBundleRagt, "kvimage", "ragt"},     {kBundleSwitch, "kvimage", "mums"},
};

void Message(const char* text) {
  ShowMessage(QString::fromLatin1(text), QString(), UiIcon::kWarning);
}

}  // namespace

QString BootImagePathFor(const QString& imagePath) {
  const QFileInfo info(imagePath);
  QString name = info.fileName();
  const QString folder = imagePath.left(imagePath.size() - name.size());
  int at = name.indexOf(QLatin1String("kvimage6"));
  if (at >= 0) {
    name.replace(at, 8, QStringLiteral("kvimageb"));
  } else if ((at = name.indexOf(QLatin1String("kvimage"))) >= 0) {
    name.replace(at, 7, QStringLiteral("kvimageb"));
  }
  return folder + name;
}

bool IsBundlePath(const QString& path) {
  const QString suffix = QFileInfo(path).suffix();
  if (suffix.isEmpty()) return false;
  return QLatin1Char('.') + suffix.toLower() == OemString(kOemBundleExtension).toLower();
}

bool HasExtension(const QString& path) { return !QFileInfo(path).suffix().isEmpty(); }

int ChooseFromArchive(ArchiveTool& archive, QString& chosen) {
  if (!HasExtension(chosen) || IsBundlePath(chosen)) return 1;
  if (archive.Open(chosen) != kArchiveOk) {
    ShowMessage(QStringLiteral("Unable to read or extract archive ") + chosen, QString(),
                UiIcon::kWarning);
    return -1;
  }
  QList<ArchiveEntry> entries;
  archive.ListEntries(entries);
  QString selected;
  for (const ArchiveEntry& entry : entries) {
    // A checksum or notes file named after its image would be loaded as one.
    if (IsCompanionFileName(entry.fileName)) continue;
    if (IsBundlePath(entry.fileName) || entry.fileName.startsWith(QLatin1String("kvimage_")) ||
        entry.fileName.startsWith(QLatin1String("kvimage6_"))) {
      selected = entry.fullPath;
      break;
    }
  }
  if (selected.isEmpty()) return 0;
  WritePrivateProfileString(QString::fromLatin1(kSectionPpcLoadFiles),
                            QString::fromLatin1(kKeyFlashFsFilename), selected,
                            LoadParameterFileName());
  chosen = selected;
  return 1;
}

bool UnpackBundleImages(const QString& path, quint32 imageLetter, bool sixImage, bool serialLoad,
                        WorkFolderList& folders, BundleImages& images) {
  if (serialLoad) {
    const QString temp = TempFolder();
    if (temp.isEmpty() || !QDir().mkpath(temp)) {
      Message(kMsgBadTemp);
      return false;
    }
  }
  const QString folder = folders.CreateTemporaryFolder();
  if (folder.isEmpty()) {
    Message(kMsgNoTempFolder);
    return false;
  }
  std::unique_ptr<FirmwareBundle> bundle = OpenBundle(path);
  if (!bundle) {
    Message(kMsgUnreadableFirmware);
    return false;
  }
  const BundleProduct* product = nullptr;
  for (const BundleProduct& candidate : kBundleProducts) {
    if (candidate.code == bundle->ProductCode()) product = &candidate;
  }
  if (!product || (!serialLoad && product->code == kBundleSwitch)) {
    Message(kMsgUnknownFirmwareType);
    return false;
  }
  // The version text comes from the file and becomes part of file names: a
  // separator in it would put the images outside the work folder.
  const QString version = bundle->VersionString();
  if (version.contains(QLatin1Char('/')) || version.contains(QLatin1Char('\\')) ||
      version.contains(QChar(0))) {
    Message(kMsgUnreadableFirmware);
    return false;
  }
  const BundleNode* boot = FindBundleEntry(*bundle, imageLetter, kTagImageBoot);
  const BundleNode* main = FindBundleEntry(*bundle, imageLetter, sixImage ? kTagImage6 : kTagImage);
  if (!boot || !main) {
    Message(kMsgUnreadableFirmware);
    return false;
  }
  const QString model = QString::fromLatin1(product->model);
  images.bootImage = folder + QStringLiteral("kvimageb_") + model + version;
  images.fsImage = folder + QString::fromLatin1(product->stem) + QLatin1Char('_') + model + version;
  if (ExtractBundleEntry(*bundle, *boot, images.bootImage) != 0 ||
      ExtractBundleEntry(*bundle, *main, images.fsImage) != 0) {
    Message(kMsgUnreadableFirmware);
    return false;
  }
  return true;
}

}  // namespace fwl
