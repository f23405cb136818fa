#include "app/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QVariant>
#include <QStandardPaths>

#include "platform/ini_file.h"
#include "platform/system_folders.h"

namespace fwl {
namespace {

struct SettingDef {
  const char* section;
  const char* name;
  bool isText;
  int intDefault;
  const char* textDefault;  // nullptr: computed (see TextDefault)
  int minValue;             // range applied on read when min < max
  int maxValue;
};

// The one table of stored values and their defaults.
constexpr SettingDef kSettings[] = {
    {kSectionPages, "fw dir", true, 0, nullptr, 0, 0},
    {kSectionPages, "prod type", false, 0, "", 0, 2},
    {kSectionPages, "recurse", false, 0, "", 0, 0},
    {kSectionPages, "examine zip files", false, 0, "", 0, 0},
    {kSectionPages, "examine tar files", false, 0, "", 0, 0},
    {kSectionPages, "examine tgz files", false, 0, "", 0, 0},
    {kSectionPages, "examine gz files", false, 0, "", 0, 0},
    {kSectionPages, "last dest proj", true, 0, "", 0, 0},
    {kSectionPages, "last com port", true, 0, "COM1", 0, 0},
    {kSectionPages, "method selection", false, 0, "", 0, 1},
    {kSectionPages, "last ip", true, 0, "", 0, 0},
    {kSectionPages, "spec. ip", false, 0, "", 0, 0},
    {kSectionPages, "spec. ip addr", true, 0, "", 0, 0},
    {kSectionPages, "switch ip", true, 0, "", 0, 0},
    {kSectionPages, "subnet", true, 0, "", 0, 0},
    {kSectionPages, "gateway ip", true, 0, "", 0, 0},
    {kSectionPages, "user", true, 0, "", 0, 0},
    {kSectionConsolePipe, "timeout", false, 8000, "", 0, 0},
    {kSectionLoad, "hard reset delay ms", false, 30000, "", 0, 0},
    {kSectionLoad, "4410 hard reset extension", false, 15000, "", 0, 0},
    // Must match the boot monitor of the hardware: nine lower-case letters,
    // sent followed by a carriage return.
    {kSectionLoad, "autoboot stop string", true, 0, "interrupt", 0, 0},
    // 1: every image is checked with the unit's crc32 after its fetch and
    // after it was written to flash; 0: loads trust the copies.
    {kSectionLoad, "verify flash", false, 1, "", 0, 0},
    {kSectionEthOnlyLoad, "ping retry count", false, 25, "", 0, 0},
    {kSectionEthOnlyLoad, "ping timeout ms", false, 5000, "", 0, 0},
    {kSectionEthOnlyLoad, "ping ttl", false, 10, "", 0, 0},
    {kSectionTftp, "inbound", true, 0, "", 0, 0},
    {kSectionTftp, "outbound", true, 0, "", 0, 0},
    {kSectionTftp, "listen", false, 69, "", 0, 0},
    {kSectionTftp, "retries", false, 3, "", 0, 0},
    {kSectionTftp, "timeout", false, 3, "", 0, 0},
    // 1: a transfer's retransmission time-out follows its measured round
    // trips (10 ms up to the interval); 0: the fixed interval.
    {kSectionTftp, "adaptive", false, 1, "", 0, 0},
    {kSectionTftp, "log file", true, 0, "", 0, 0},
    {kSectionTftp, "log to file", false, 0, "", 0, 0},
};

const SettingDef* FindDef(const QString& section, const QString& name) {
  for (const SettingDef& def : kSettings) {
    if (section.compare(QLatin1String(def.section), Qt::CaseInsensitive) == 0 &&
        name.compare(QLatin1String(def.name), Qt::CaseInsensitive) == 0)
      return &def;
  }
  return nullptr;
}

QString TextDefault(const SettingDef& def) {
  if (def.textDefault) return QString::fromLatin1(def.textDefault);
  // "fw dir": the "zeb_firmware" folder beside the program, or "firmware"
  // when that does not exist.
  const QString zeb = ProgramFolder() + QStringLiteral("zeb_firmware");
  if (QFileInfo(zeb).isDir()) return WithTrailingSeparator(zeb);
  return WithTrailingSeparator(ProgramFolder() + QStringLiteral("firmware"));
}

QMutex g_fileMutex;
QString g_fileOverride;

// Marks a missing value; no stored text can contain this.
const QString& MissingMarker() {
  static const QString kMissing = QStringLiteral("\x01\x02missing");
  return kMissing;
}

#ifdef Q_OS_WIN
// On Windows the values live in the registry, integers as DWORD values and
// texts as string values, unless a settings file was named explicitly.
bool UseRegistry() {
  QMutexLocker lock(&g_fileMutex);
  return g_fileOverride.isEmpty() && qEnvironmentVariableIsEmpty("FWLOADER_SETTINGS_FILE");
}

QSettings& Registry() {
  static QSettings settings(QStringLiteral("HKEY_CURRENT_USER\\Software\\") +
                                OemString(kOemCompanyKey) + u'\\' + OemString(kAppNameEntry),
                            QSettings::NativeFormat);
  return settings;
}
#endif

QString ReadRaw(const QString& section, const QString& name) {
#ifdef Q_OS_WIN
  if (UseRegistry()) {
    const QString key = section + u'/' + name;
    return Registry().contains(key) ? Registry().value(key).toString() : MissingMarker();
  }
#endif
  return GetPrivateProfileString(section, name, MissingMarker(), 32768, SettingsFilePath());
}

// The settings file reads a value back with its surrounding blanks and one
// pair of enclosing quotes removed, and a line break would start a new entry
// (or section) of its own. A text is therefore quoted when it would not read
// back as written, and a text holding a line break is not stored at all: the
// write fails (as the store allows) instead of corrupting other values.
bool FileText(QString* text) {
  if (text->contains(u'\n') || text->contains(u'\r')) return false;
  const bool enclosed = text->size() >= 2 && text->startsWith(u'"') && text->endsWith(u'"');
  if (enclosed || *text != text->trimmed()) *text = u'"' + *text + u'"';
  return true;
}

void WriteRaw(const QString& section, const QString& name, const QVariant& data) {
#ifdef Q_OS_WIN
  if (UseRegistry()) {
    Registry().setValue(section + u'/' + name, data);
    return;
  }
#endif
  QString text = data.toString();
  if (data.typeId() == QMetaType::QString && !FileText(&text)) return;
  WritePrivateProfileString(section, name, text, SettingsFilePath());
}

int ParseInt(const QString& text, int fallback) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  return ok ? v : fallback;
}

}  // namespace

QString ProgramFolder() {
  const QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                   : QDir::currentPath();
  return WithTrailingSeparator(dir);
}

QString SettingsFilePath() {
  {
    QMutexLocker lock(&g_fileMutex);
    if (!g_fileOverride.isEmpty()) return g_fileOverride;
  }
  const QString env = qEnvironmentVariable("FWLOADER_SETTINGS_FILE");
  if (!env.isEmpty()) return env;
  QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (config.isEmpty()) config = QDir::homePath() + QStringLiteral("/.config");
  return QDir(config).filePath(OemString(kOemCompanyKey) + u'/' + OemString(kAppNameEntry) +
                               QStringLiteral(".ini"));
}

void SetSettingsFile(const QString& path) {
  QMutexLocker lock(&g_fileMutex);
  g_fileOverride = path;
}

int GetSettingInt(const QString& section, const QString& value) {
  const SettingDef* def = FindDef(section, value);
  return GetSettingInt(section, value, def ? def->intDefault : 0);
}

int GetSettingInt(const QString& section, const QString& value, int defaultValue) {
  const QString raw = ReadRaw(section, value);
  int result = raw == MissingMarker() ? defaultValue : ParseInt(raw, defaultValue);
  const SettingDef* def = FindDef(section, value);
  if (def && def->minValue < def->maxValue && (result < def->minValue || result > def->maxValue))
    result = 0;
  return result;
}

QString GetSettingText(const QString& section, const QString& value) {
  const SettingDef* def = FindDef(section, value);
  return GetSettingText(section, value, def ? TextDefault(*def) : QString());
}

QString GetSettingText(const QString& section, const QString& value,
                       const QString& defaultValue) {
  const QString raw = ReadRaw(section, value);
  return raw == MissingMarker() ? defaultValue : raw;
}

void SetSettingInt(const QString& section, const QString& value, int data) {
  WriteRaw(section, value, data);
}

void SetSettingText(const QString& section, const QString& value, const QString& data) {
  WriteRaw(section, value, data);
}

QString OemString(int entry) {
  switch (entry) {
    case 57344: return QStringLiteral("FirmwareLoader");
    case 61300: return QStringLiteral("MODIFY STRINGS BELOW HERE FOR OEM");
    case 61301: return QStringLiteral("Next string is the name of the INI file");
    case 61302: return QStringLiteral("plexmon.ini");
    case 61303: return QStringLiteral("Next string is the main registry key for software");
    case 61304: return QStringLiteral("Brantwell");
    case 61305:
      return QStringLiteral(
          "Next string is the OEM string to look for in a firmware bundle (leading and trailing "
          "spaces are removed)");
    case 61306: return QStringLiteral("KORVID");
    case 61307:
      return QStringLiteral(
          "Next string is 0 if old firmware should be invisible, 1 if it can be chosen");
    case 61308: return QStringLiteral("1");
    case 61309:
      return QStringLiteral(
          "Next string is the firmware bundle extension, in lower case, including the dot "
          "(normally .fwb)");
    case 61310: return QStringLiteral(".fwb");
    default: return QString();
  }
}

QString InstallationFolder() {
  return GetPrivateProfileString(QStringLiteral("Installation Directory"),
                                 QStringLiteral("Path32"), QString(), 1024,
                                 OemString(kOemIniFileName));
}

}  // namespace fwl
