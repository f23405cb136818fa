// fwload bundle: take one entry out of a firmware bundle, or make a bundle
// from image files (for demos, samples and simulated units).
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "cli/cli_commands.h"
#include "sim/bundle_writer.h"

namespace fwl::cli {
namespace {

constexpr char kUsage[] =
    "Usage: fwload bundle extract FILE.fwb --cpu 0|A|B|C --tag N [--label TEXT] --out PATH\n"
    "       fwload bundle create OUT.fwb --product CODE --version TEXT [--oem WORD]\n"
    "                            (--file CPU:TAG:PATH [--name NAME] [--label TEXT]\n"
    "                             | --link CPU:TAG:FROMCPU:FROMTAG)...\n"
    "\n"
    "extract  copies one entry to PATH: the first file tagged N (1 boot image,\n"
    "         2 image, 3 \"6\" image, 99 other) in the first folder of processor\n"
    "         0, A, B or C, with exactly that label when --label is given. A link\n"
    "         entry copies the data of the entry it stands for.\n"
    "create   writes a bundle: product code (1001 LO_Zeb ... 2000 MS), version\n"
    "         text such as 3_1_2, root (OEM) name (empty by default). --file adds\n"
    "         PATH's data under processor CPU with tag TAG, stored as NAME (default:\n"
    "         PATH's file name) with label TEXT (default: empty); --link adds a\n"
    "         link to the first file FROMTAG of processor FROMCPU.\n"
    "\n"
    "Exit status: 0 done, 1 the output could not be written, 2 bad usage, an\n"
    "unreadable bundle or a missing entry.";

void Error(const QString& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "fwload bundle: %s\n", text.toLocal8Bit().constData());
}

// "0", "A", "B", "C" (any case) -> the processor folder tag.
bool ParseCpu(const QString& text, quint32& tag) {
  const QString t = text.toUpper();
  if (t == u"0" || t == u"A" || t == u"B" || t == u"C") {
    tag = t[0].unicode();
    return true;
  }
  return false;
}

bool ParseTag(const QString& text, quint32& tag) {
  bool ok = false;
  tag = text.toUInt(&ok, 10);
  return ok;
}

QString CpuText(quint32 tag) { return QString(QChar(char(tag))); }

// Folder names as the maker's tools give them.
const char* CpuFolderName(quint32 tag) {
  switch (tag) {
    case kTagCpuA:
      return "PPC";
    case kTagCpuB:
      return "ARM";
    case kTagCpuC:
      return "ARM9";
    default:
      return "NONE";
  }
}

// Takes the value of option `args[i]`; false (with a message) when missing.
bool TakeValue(const QStringList& args, qsizetype& i, QString& value) {
  if (i + 1 >= args.size()) {
    Error(QStringLiteral("option %1 needs a value").arg(args[i]));
    return false;
  }
  value = args[++i];
  return true;
}

int RunExtract(const QStringList& args) {
  QString bundlePath, out, label, cpuText, tagText;
  bool haveLabel = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    QString* slot = a == u"--cpu"     ? &cpuText
                    : a == u"--tag"   ? &tagText
                    : a == u"--label" ? &label
                    : a == u"--out"   ? &out
                                      : nullptr;
    if (slot) {
      if (!TakeValue(args, i, *slot)) return kExitUsage;
      if (slot == &label) haveLabel = true;
    } else if (a.startsWith(u'-') && a.size() > 1) {
      Error(QStringLiteral("unknown option '%1' (try fwload help bundle)").arg(a));
      return kExitUsage;
    } else if (bundlePath.isEmpty()) {
      bundlePath = a;
    } else {
      Error(QStringLiteral("one bundle at a time ('%1' is extra)").arg(a));
      return kExitUsage;
    }
  }
  quint32 cpu = 0, tag = 0;
  if (bundlePath.isEmpty() || out.isEmpty() || cpuText.isEmpty() || tagText.isEmpty()) {
    Error(
        QStringLiteral("extract needs FILE.fwb, --cpu, --tag and --out (try fwload help "
                       "bundle)"));
    return kExitUsage;
  }
  if (!ParseCpu(cpuText, cpu)) {
    Error(QStringLiteral("--cpu must be 0, A, B or C, not '%1'").arg(cpuText));
    return kExitUsage;
  }
  if (!ParseTag(tagText, tag) || tag == 0) {
    Error(QStringLiteral("--tag must be a positive number, not '%1'").arg(tagText));
    return kExitUsage;
  }

  QString message;
  auto bundle = OpenBundle(bundlePath, nullptr, &message);
  if (!bundle) {
    Error(QStringLiteral("%1: not a readable firmware bundle: %2").arg(bundlePath, message));
    return kExitUsage;
  }
  const BundleNode* node = FindBundleEntry(*bundle, cpu, tag, haveLabel ? label : QString());
  if (!node) {
    QString what =
        QStringLiteral("no entry with tag %1 in processor %2").arg(tag).arg(CpuText(cpu));
    if (haveLabel) what += QStringLiteral(" labelled '%1'").arg(label);
    Error(QStringLiteral("%1: %2").arg(bundlePath, what));
    return kExitUsage;
  }
  const int error = ExtractBundleEntry(*bundle, *node, out);
  if (error != 0) {
    Error(QStringLiteral("cannot write '%1': %2")
              .arg(out, QString::fromLocal8Bit(std::strerror(error))));
    return kExitFailed;
  }
  const BundleNode& data = node->type == kBundleLink && node->target ? *node->target : *node;
  std::printf("%s: %u bytes\n", out.toLocal8Bit().constData(), data.size);
  return kExitOk;
}

int RunCreate(const QStringList& args) {
  QString outPath, productText, version, oem;
  struct Pending {
    bool link = false;
    quint32 cpu = 0, tag = 0, fromCpu = 0, fromTag = 0;
    QString path, name, label;
  };
  QList<Pending> entries;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    QString value;
    if (a == u"--product" || a == u"--version" || a == u"--oem") {
      if (!TakeValue(args, i, value)) return kExitUsage;
      (a == u"--product" ? productText : a == u"--version" ? version : oem) = value;
    } else if (a == u"--file") {
      if (!TakeValue(args, i, value)) return kExitUsage;
      Pending p;
      const QStringList parts = value.split(u':');
      if (parts.size() < 3 || !ParseCpu(parts[0], p.cpu) || !ParseTag(parts[1], p.tag)) {
        Error(QStringLiteral("--file wants CPU:TAG:PATH, not '%1'").arg(value));
        return kExitUsage;
      }
      p.path = value.section(u':', 2);
      p.name = QFileInfo(p.path).fileName();
      entries.append(p);
    } else if (a == u"--link") {
      if (!TakeValue(args, i, value)) return kExitUsage;
      Pending p;
      p.link = true;
      const QStringList parts = value.split(u':');
      if (parts.size() != 4 || !ParseCpu(parts[0], p.cpu) || !ParseTag(parts[1], p.tag) ||
          !ParseCpu(parts[2], p.fromCpu) || !ParseTag(parts[3], p.fromTag)) {
        Error(QStringLiteral("--link wants CPU:TAG:FROMCPU:FROMTAG, not '%1'").arg(value));
        return kExitUsage;
      }
      entries.append(p);
    } else if (a == u"--name" || a == u"--label") {
      if (!TakeValue(args, i, value)) return kExitUsage;
      if (entries.isEmpty()) {
        Error(QStringLiteral("%1 belongs after a --file or --link").arg(a));
        return kExitUsage;
      }
      (a == u"--name" ? entries.last().name : entries.last().label) = value;
    } else if (a.startsWith(u'-') && a.size() > 1) {
      Error(QStringLiteral("unknown option '%1' (try fwload help bundle)").arg(a));
      return kExitUsage;
    } else if (outPath.isEmpty()) {
      outPath = a;
    } else {
      Error(QStringLiteral("one output file at a time ('%1' is extra)").arg(a));
      return kExitUsage;
    }
  }
  bool productOk = false;
  const int product = productText.toInt(&productOk);
  if (outPath.isEmpty() || !productOk || version.isEmpty()) {
    Error(QStringLiteral("create needs OUT.fwb, --product CODE and --version TEXT"));
    return kExitUsage;
  }

  sim::BundleWriter writer(product, version, oem);
  QMap<quint32, int> folders;
  // The first file with each processor/tag pair, for links.
  QMap<QPair<quint32, quint32>, int> firstFile;
  QMap<QPair<quint32, quint32>, QString> firstName;
  for (Pending p : entries) {
    if (!folders.contains(p.cpu)) {
      folders.insert(p.cpu, writer.AddDirectory(sim::BundleWriter::kRoot, p.cpu,
                                                QString::fromLatin1(CpuFolderName(p.cpu))));
    }
    const int folder = folders.value(p.cpu);
    if (p.link) {
      const auto target = firstFile.constFind({p.fromCpu, p.fromTag});
      if (target == firstFile.constEnd()) {
        Error(QStringLiteral("--link: no file with tag %1 in processor %2 before it")
                  .arg(p.fromTag)
                  .arg(CpuText(p.fromCpu)));
        return kExitUsage;
      }
      if (p.name.isEmpty()) p.name = firstName.value({p.fromCpu, p.fromTag});
      writer.AddLink(folder, p.tag, p.name, p.label, target.value());
      continue;
    }
    QFile in(p.path);
    if (!in.open(QIODevice::ReadOnly)) {
      Error(QStringLiteral("cannot read '%1': %2").arg(p.path, in.errorString()));
      return kExitUsage;
    }
    const int id = writer.AddFile(folder, p.tag, p.name, p.label, in.readAll());
    if (!firstFile.contains({p.cpu, p.tag})) {
      firstFile.insert({p.cpu, p.tag}, id);
      firstName.insert({p.cpu, p.tag}, p.name);
    }
  }
  if (!writer.WriteTo(outPath)) {
    Error(QStringLiteral("cannot write '%1'").arg(outPath));
    return kExitFailed;
  }
  std::printf("%s: product %d %s, version %s, %lld entries\n", outPath.toLocal8Bit().constData(),
              product, BundleProductName(product).toLocal8Bit().constData(),
              version.toLocal8Bit().constData(), static_cast<long long>(entries.size()));
  return kExitOk;
}

int RunBundle(const QStringList& args) {
  if (args.isEmpty()) {
    Error(QStringLiteral("say extract or create (try fwload help bundle)"));
    return kExitUsage;
  }
  if (args[0] == u"extract") return RunExtract(args.mid(1));
  if (args[0] == u"create") return RunCreate(args.mid(1));
  Error(QStringLiteral("unknown action '%1' (try fwload help bundle)").arg(args[0]));
  return kExitUsage;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(bundle, "bundle", "extract an entry from a firmware bundle, or make one",
                        kUsage, RunBundle);

}  // namespace fwl::cli
