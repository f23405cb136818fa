#include "catalogue/project_file.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <climits>
#include <mutex>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "app/settings.h"
#include "platform/ini_file.h"

namespace fwl {
namespace {

constexpr int kPortCount = 6;  // "Port0ID" .. "Port5ID", "IPAddr0" .. "IPAddr5"
constexpr int kEthernetPortType = 4;
constexpr int kMaxPortFieldLength = 3;
// A project larger than this is read only up to here, as the INI module does.
constexpr qint64 kMaxProjectBytes = 16 * 1024 * 1024;
constexpr char kLastProjectValue[] = "last dest proj";

// One parsed project file: first section of each name, first key of each
// name in it, names compared without regard to case (the profile rules of
// platform/ini_file.h).
struct ParsedProject {
  QString path;
  qint64 size = -1;
  qint64 modified = -1;  // nanoseconds since 1970 where the platform has them
  QHash<QString, QHash<QString, QString>> sections;
};

QString Unquote(const QString& value) {
  if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
    return value.mid(1, value.size() - 2);
  return value;
}

void Parse(const QByteArray& data, ParsedProject* out) {
  out->sections.clear();
  QHash<QString, QString>* current = nullptr;
  QSet<QString> seen;
  qsizetype start = 0;
  while (start < data.size()) {
    qsizetype end = data.indexOf('\n', start);
    if (end < 0) end = data.size();
    const QString line = QString::fromLocal8Bit(data.mid(start, end - start)).trimmed();
    start = end + 1;
    if (line.isEmpty() || line.startsWith(u';')) continue;
    if (line.startsWith(u'[')) {
      const qsizetype close = line.indexOf(u']');
      const QString name = (close < 0 ? line.mid(1) : line.mid(1, close - 1)).trimmed().toLower();
      // Only the first section of a name counts; later ones are skipped.
      if (seen.contains(name)) {
        current = nullptr;
      } else {
        seen.insert(name);
        current = &out->sections[name];
      }
      continue;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0 || current == nullptr) continue;
    const QString key = line.left(eq).trimmed().toLower();
    if (!current->contains(key)) current->insert(key, Unquote(line.mid(eq + 1).trimmed()));
  }
}

// Size and modification time of a regular file; false when it is none.
// Asked once per lookup, so it avoids the cost of a QDateTime.
bool FileStamp(const QString& path, qint64* size, qint64* modified) {
#ifdef Q_OS_UNIX
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = st.st_size;
  *modified = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
#else
  const QFileInfo info(path);
  if (!info.isFile()) return false;
  *size = info.size();
  *modified = info.lastModified().toMSecsSinceEpoch();
  return true;
#endif
}

// The plain INI reader. Listing stations asks for many values of one file;
// parsing the file once per change keeps that linear in the file size.
QString ReadIniProjectValue(const QString& section, const QString& key, const QString& path) {
  static std::mutex lock;
  static ParsedProject cache;
  const QString resolved = ProjectFilePath(path);
  qint64 size = 0;
  qint64 modified = 0;
  if (!FileStamp(resolved, &size, &modified)) return QString();
  std::lock_guard<std::mutex> guard(lock);
  if (cache.path != resolved || cache.size != size || cache.modified != modified) {
    QFile f(resolved);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    cache.path = resolved;
    cache.size = size;
    cache.modified = modified;
    // Only what the file holds: a read of the whole bound would set aside
    // 16 MiB for every project read.
    Parse(f.read(std::min(size, kMaxProjectBytes)), &cache);
  }
  const auto s = cache.sections.constFind(section.trimmed().toLower());
  if (s == cache.sections.constEnd()) return QString();
  return s->value(key.trimmed().toLower());
}

ProjectValueReader& CurrentReader() {
  static ProjectValueReader reader;
  return reader;
}

// Decimal conversion in the manner of atoi: leading blanks, an optional
// sign, digits; anything else ends the number (no digits: 0).
long long LeadingNumber(const QString& text, bool* overflow = nullptr) {
  qsizetype i = 0;
  while (i < text.size() && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  long long value = 0;
  bool big = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (value > (LLONG_MAX - 9) / 10) {
      big = true;
      break;
    }
    value = value * 10 + (text[i].unicode() - u'0');
  }
  if (overflow) *overflow = big;
  return negative ? -value : value;
}

QString StationSection(const QString& name) {
  return QString::fromLatin1(kProjectStationSectionFormat).arg(name);
}

}  // namespace

QString ProjectFilePath(const QString& name) {
  if (name.isEmpty()) return QString();
  return QFileInfo(name).absoluteFilePath();
}

ProjectValueReader SetProjectValueReader(ProjectValueReader reader) {
  ProjectValueReader previous = std::move(CurrentReader());
  CurrentReader() = std::move(reader);
  return previous;
}

QString ReadProjectValue(const QString& section, const QString& key, const QString& projectPath) {
  if (projectPath.isEmpty()) return QString();
  const ProjectValueReader& reader = CurrentReader();
  const QString value =
      reader ? reader(section, key, projectPath) : ReadIniProjectValue(section, key, projectPath);
  return value.left(kProjectValueBufferSize - 1);
}

int LoadStationList(const QString& projectPath, int productType, StationList* list) {
  if (list == nullptr) return -1;
  list->Clear();
  if (productType == 1) return 0;  // a managed switch has no stations
  const bool oldLine = productType == 2;
  const QString listSection =
      QString::fromLatin1(oldLine ? kProjectOldStationsSection : kProjectStationsSection);
  const QString sectionFormat =
      QString::fromLatin1(oldLine ? kProjectOldStationSectionFormat : kProjectStationSectionFormat);
  int result = 0;
  // The list ends at the first empty key, so a file of any size ends it.
  for (int n = 0; n < INT_MAX; ++n) {
    const QString record = ReadProjectValue(listSection, QString::number(n), projectPath);
    if (record.isEmpty()) break;
    const QString name = record.section(u',', 0, 0).left(kMaxStationNameLength);
    if (name.isEmpty()) {
      result = -1;
      continue;
    }
    const QString id = ReadProjectValue(sectionFormat.arg(name),
                                        QString::fromLatin1(kProjectStationIdKey), projectPath);
    if (id.isEmpty()) {
      result = -1;
      continue;
    }
    bool overflow = false;
    const long long code = LeadingNumber(id, &overflow);
    list->typeCodes.insert(
        name, overflow || code > INT_MAX || code < INT_MIN ? 0 : static_cast<int>(code));
    list->names.append(name);
  }
  return result;
}

QString StationSerialNumber(const QString& projectPath, const QString& stationName) {
  return ReadProjectValue(StationSection(stationName), QString::fromLatin1(kProjectSerialNumberKey),
                          projectPath);
}

quint32 SerialNumberValue(const QString& text) {
  bool overflow = false;
  const long long value = LeadingNumber(text, &overflow);
  if (overflow || value < 0 || value > 0xFFFFFFFFLL) return 0;
  return static_cast<quint32>(value);
}

QString StationAddress(const QString& projectPath, const QString& stationName) {
  if (projectPath.isEmpty()) return QString();
  for (int i = 0; i < kPortCount; ++i) {
    const QString address = ReadProjectValue(StationSection(stationName),
                                             QStringLiteral("IPAddr%1").arg(i), projectPath);
    if (!address.isEmpty()) return address;
  }
  return QString();
}

bool StationSubnetAndGateway(const QString& projectPath, const QString& stationName,
                             QString* subnet, QString* gateway) {
  const QString section = StationSection(stationName);
  int port = -1;
  for (int p = 0; p < kPortCount && port < 0; ++p) {
    if (LeadingNumber(ReadProjectValue(section, QStringLiteral("Port%1ID").arg(p), projectPath)) ==
        kEthernetPortType)
      port = p;
  }
  if (port < 0) return false;
  const QStringList fields =
      ReadProjectValue(section, QStringLiteral("Port%1").arg(port), projectPath).split(u',');
  // Fields are counted from 1; a missing or empty one reads as 0.
  auto field = [&fields](int n) {
    const QString f = fields.value(n - 1).trimmed().left(kMaxPortFieldLength);
    return f.isEmpty() ? QStringLiteral("0") : f;
  };
  QString mask = QStringList{field(6), field(7), field(8), field(9)}.join(u'.');
  if (mask == u"0.0.0.0") mask = QStringLiteral("255.0.0.0");
  if (subnet) *subnet = mask;
  if (gateway) *gateway = QStringList{field(11), field(12), field(13), field(14)}.join(u'.');
  return true;
}

ProjectChooserSetup ProjectChooserStart(const QString& currentProject) {
  ProjectChooserSetup setup;
  setup.defaultSuffix = QStringLiteral("6pj");
  // The dialog's filter "Project Files (*.6pj)|*.6pj|All Files (*.*)|*.*||"
  // in the form Qt's file dialog takes.
  setup.nameFilters = QStringLiteral("Project Files (*.6pj);;All Files (*)");
  const QString start = currentProject.isEmpty()
                            ? GetSettingText(QString::fromLatin1(kSectionPages),
                                             QString::fromLatin1(kLastProjectValue))
                            : currentProject;
  if (!start.isEmpty()) {
    setup.initialFile = start;
    return setup;
  }
  const QString program = ProgramFolder();
  const QString preferred = program + QStringLiteral("zeb_firmware/");
  setup.initialFolder =
      QFileInfo(preferred).isDir() ? preferred : program + QStringLiteral("firmware/");
  return setup;
}

void RememberChosenProject(const QString& projectPath) {
  SetSettingText(QString::fromLatin1(kSectionPages), QString::fromLatin1(kLastProjectValue),
                 projectPath);
}

}  // namespace fwl
