#include "app/help.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "app/settings.h"

namespace fwl {

namespace {

QString AsFolderText(const QString& path) {
  QString folder = QDir::toNativeSeparators(QDir::cleanPath(path));
  if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
  return folder;
}

}  // namespace

QString HelpFolder() {
  const QString folder = qEnvironmentVariable("FWLOADER_HELP_DIR");
  return folder.isEmpty() ? HelpFolderFor(ProgramFolder()) : AsFolderText(folder);
}

QString HelpFolderFor(const QString& programFolder) {
  const QString besideProgram = programFolder + QStringLiteral("/help");
  if (QFileInfo(besideProgram).isDir()) return AsFolderText(besideProgram);
  const QString installed = InstalledDataFolder(programFolder);
  if (!installed.isEmpty() && QFileInfo(installed + QStringLiteral("help")).isDir())
    return AsFolderText(installed + QStringLiteral("help"));
  // Not found: the installed place, so that what is missing can be named.
  return AsFolderText(programFolder + QStringLiteral("/" FWL_DATA_FROM_BIN "/help"));
}

QString InstalledDataFolder(const QString& programFolder) {
  const QString data = programFolder + QStringLiteral("/" FWL_DATA_FROM_BIN);
  return QFileInfo(data).isDir() ? AsFolderText(data) : QString();
}

QString DefaultHelpPath() {
  return HelpFolder() + OemString(kAppNameEntry) + QStringLiteral(".hlp");
}

QString ChooseHelpPath(const QString& defaultHelpPath, const QString& station,
                       const QString& project) {
  const qsizetype cut = std::max(defaultHelpPath.lastIndexOf(QLatin1Char('/')),
                                 defaultHelpPath.lastIndexOf(QDir::separator()));
  const QString folder = defaultHelpPath.left(cut + 1);
  const bool forStation = !project.isEmpty() || !station.isEmpty();
  return folder + QLatin1String(forStation ? kStationHelpFile : kSwitchHelpFile);
}

QString HelpPagePath(const QString& helpPath) {
  const QFileInfo info(helpPath);
  const qsizetype cut =
      std::max(helpPath.lastIndexOf(QLatin1Char('/')), helpPath.lastIndexOf(QDir::separator()));
  return helpPath.left(cut + 1) + info.completeBaseName() + QStringLiteral(".html");
}

QUrl HelpUrl(const QString& helpPath, int contextId) {
  QUrl url = QUrl::fromLocalFile(HelpPagePath(helpPath));
  url.setFragment(QStringLiteral("ctx-%1").arg(contextId));
  return url;
}

}  // namespace fwl
