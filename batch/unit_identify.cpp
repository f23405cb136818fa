#include "batch/unit_identify.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "platform/ui.h"
#include "station/ethernet_upgrade_text.h"
#include "station/station_link.h"
#include "switch/switch_web.h"

namespace fwl {
namespace {

// Keeps the boxes the readers show instead of showing them; answers as the
// silent Ui does. Installed for the calling thread only.
class CapturingUi final : public SilentUi {
 public:
  explicit CapturingUi(QStringList& boxes) : boxes_(boxes), previous_(Ui::InstallForThread(this)) {}
  ~CapturingUi() override { Ui::InstallForThread(previous_); }
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override {
    boxes_ << text;
    return SilentUi::MessageBox(text, caption, icon, buttons);
  }

 private:
  QStringList& boxes_;
  Ui* previous_;
};

QString ValueAfter(const QString& text, const QString& key) {
  return text.startsWith(key) ? text.mid(key.size()) : text;
}

// The "cpu" (or "Processor") line of /proc/cpuinfo.
QString ProcessorName(const QString& cpuinfo) {
  static const QRegularExpression cpuLine(QStringLiteral("(?m)^(?:cpu|Processor)\\s*:\\s*(.+)$"));
  const auto match = cpuLine.match(cpuinfo);
  return match.hasMatch() ? match.captured(1).trimmed().left(40) : QString();
}

// The processor family the firmware folders are tagged with.
QString ProcessorFamily(quint32 letter) {
  switch (letter) {
    case 'A':
      return QStringLiteral("8xx");
    case 'B':
      return QStringLiteral("ARM7");
    case 'C':
      return QStringLiteral("ARM9");
    default:
      return QString();
  }
}

// Partition names of a /proc/mtd table: "mtd0:boot,mtd1:kernel,…".
QJsonArray FlashTable(const QString& table) {
  static const QRegularExpression row(
      QStringLiteral("(?m)^(mtd\\d+):\\s+([0-9a-fA-F]+)\\s+[0-9a-fA-F]+\\s+\"([^\"]*)\""));
  QJsonArray out;
  auto it = row.globalMatch(table);
  while (it.hasNext() && out.size() < 64) {
    const auto m = it.next();
    out.append(QJsonObject{{"partition", m.captured(1)},
                           {"size", QStringLiteral("0x") + m.captured(2).toLower()},
                           {"name", m.captured(3).left(40)}});
  }
  return out;
}

bool CatFailed(const QString& reply) {
  return reply.left(4).compare(QLatin1String("cat:"), Qt::CaseInsensitive) == 0;
}

}  // namespace

QJsonObject UnitIdentity::ToJson() const {
  QJsonObject o{{"product", product}, {"ip", ip}, {"identified", identified}};
  if (!firmware.isEmpty()) o.insert("firmware", firmware);
  if (!board.isEmpty()) o.insert("board", board);
  if (!bootMonitor.isEmpty()) o.insert("boot_monitor", bootMonitor);
  for (auto it = extra.begin(); it != extra.end(); ++it) o.insert(it.key(), it.value());
  if (!message.isEmpty()) o.insert("message", message);
  return o;
}

UnitIdentity IdentifySwitchUnit(const QString& ip, const IdentifyOptions& options) {
  UnitIdentity id;
  id.product = QStringLiteral("switch");
  id.ip = ip;
  CapturingUi ui(id.boxes);
  SwitchWebTarget target;
  target.address = ip;
  target.user = options.user;
  target.password = options.password;
  target.httpPort = options.httpPort;
  target.limits.connectTimeoutMs = options.httpTimeoutSeconds * 1000;
  target.limits.transferTimeoutMs = options.httpTimeoutSeconds * 1000;
  target.limits.maxBodyBytes = 64 * 1024;
  SwitchInfo info;
  const int read = ReadSwitchInfo(target, &info);
  if (read == -2) {
    id.answered = true;
    id.message = QStringLiteral(
        "The switch has no information page (its information package is not installed).");
    return id;
  }
  if (read != 0) {
    id.message = id.boxes.isEmpty() ? QString::fromLatin1(kUnableToCommunicate) : id.boxes.last();
    return id;
  }
  id.answered = true;
  id.identified = !info.fwRev.isEmpty() || !info.boardId.isEmpty();
  if (!id.identified)
    id.message = QStringLiteral("The information page names no board or firmware.");
  id.firmware = info.fwRev;
  id.board = info.boardId;
  id.bootMonitor = info.uboot.trimmed();
  if (!info.kvid.isEmpty())
    id.extra.insert("model", ValueAfter(info.kvid, QStringLiteral("kvid=")));
  if (!info.fwRev.isEmpty()) id.extra.insert("revision", info.fwRev);
  return id;
}

UnitIdentity IdentifyStationUnit(const QString& ip, const IdentifyOptions& options) {
  UnitIdentity id;
  id.product = QStringLiteral("station");
  id.ip = ip;
  CapturingUi ui(id.boxes);
  StationLink link;
  if (options.stationPort > 0) link.SetStationPort(uint16_t(options.stationPort));
  link.SetUseAlternateAddress(false);
  link.SetAddress(ip);
  link.SetTimeout(options.stationTimeoutSeconds);
  link.SetRetries(options.stationRetries);
  link.SetProtocol(QStringLiteral("LNK"));
  link.SetDevice(QStringLiteral("Ethernet"));
  link.SetFormatFlags(false, false);
  link.SetUseLibrary(true);
  link.SetDestination(true, -1);
  if (!link.Open()) {
    id.message = QStringLiteral("The station link could not be opened.");
    return id;
  }
  auto run = [&link](const char* command, QString* reply) {
    int status = -1;
    reply->clear();
    return link.RunStationCommand(0, QString::fromLatin1(command), reply, &status) && status == 0 &&
           !CatFailed(*reply);
  };
  QString mtd, cpu, build;
  const bool haveMtd = run("cat /proc/mtd", &mtd);
  if (!haveMtd) {
    link.Close();
    id.message = QStringLiteral("The station did not answer (%1).").arg(ip);
    return id;
  }
  id.answered = true;
  const bool haveCpu = run("cat /proc/cpuinfo", &cpu);
  const bool haveBuild = run("cat /etc/korvidinfo.txt", &build);
  link.Close();

  const quint32 letter = haveCpu ? CpuLetterFromCpuInfo(cpu) : 0;
  const QString processor = haveCpu ? ProcessorName(cpu) : QString();
  const QString running = haveBuild ? RunningBuild(build) : QString();
  id.board = ProcessorFamily(letter);
  id.firmware = running;
  id.extra.insert("processor", processor);
  id.extra.insert("flash", FlashTable(mtd));
  id.extra.insert("build", running);
  id.identified = haveBuild && !running.isEmpty();
  if (!id.identified) id.message = QStringLiteral("Unable to determine overall firmware build.");
  return id;
}

QString DottedFirmwareVersion(const QString& firmwareFile) {
  const QFileInfo info(firmwareFile);
  if (info.suffix().compare(OemString(kOemBundleExtension).mid(1), Qt::CaseInsensitive) == 0) {
    QString version = VersionFromFileName(firmwareFile);
    return version.replace(QLatin1Char('_'), QLatin1Char('.'));
  }
  // Packages carry the version in their name before the extension; bare
  // images have none.
  const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
  QString part = VersionPart(base);
  return part.replace(QLatin1Char('_'), QLatin1Char('.'));
}

}  // namespace fwl
