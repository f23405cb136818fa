// fwloader: the wizard. Answers --help and --version (and the lack of a
// display) on the terminal before any window exists; otherwise reads the
// command line into the application object, picks the help file, then runs
// the wizard sheet modally; the process ends when the sheet closes.
#include <QApplication>
#include <cstdio>
#include <optional>

#include "app/application.h"
#include "app/command_line.h"
#include "app/front_door.h"
#include "app/help.h"
#include "app/settings.h"
#include "wizard/fwload_psheet.h"
#include "wizard/qt_ui.h"
#include "wizard/screenshot_tour.h"
#include "wizard/wizard_art.h"

namespace {

constexpr char kSheetCaption[] = "Wizard";

}  // namespace

int main(int argc, char** argv) {
  QStringList given;
  for (int i = 1; i < argc; ++i) given << QString::fromLocal8Bit(argv[i]);
  switch (fwl::ChooseFrontDoor(given, QProcessEnvironment::systemEnvironment())) {
    case fwl::FrontDoor::kPrintUsage:
      std::fputs(fwl::WizardUsage().toLocal8Bit().constData(), stdout);
      return 0;
    case fwl::FrontDoor::kPrintVersion:
      std::fputs(fwl::WizardVersionLine().toLocal8Bit().constData(), stdout);
      return 0;
    case fwl::FrontDoor::kNoDisplay:
      std::fputs(fwl::kNoDisplayText, stderr);
      return 1;
    case fwl::FrontDoor::kRunWizard:
      break;
  }
  // A display variable that names no reachable display is only found out
  // while the application object is made.
  std::optional<fwl::NoDisplayGuard> noDisplay(std::in_place);
  QApplication qapp(argc, argv);
  noDisplay.reset();
  // Settings live under <config dir>/<company>/<application>.
  QApplication::setOrganizationName(fwl::OemString(fwl::kOemCompanyKey));
  QApplication::setApplicationName(fwl::OemString(fwl::kAppNameEntry));
  QApplication::setApplicationVersion(QStringLiteral(FWL_VERSION));
  QApplication::setWindowIcon(fwl::ProgramIcon());

  fwl::QtUi ui;
  fwl::ScopedUi scopedUi(&ui);

  fwl::Application& app = fwl::Application::Instance();
  fwl::ParseCommandLine(QApplication::arguments().mid(1), app);
  app.helpPath = fwl::ChooseHelpPath(fwl::DefaultHelpPath(), app.Station, app.Project);

  const QPixmap watermark = fwl::DrawWatermarkPicture();
  const QPixmap header = fwl::DrawHeaderPicture();
  if (watermark.isNull() || header.isNull()) return 0;

  fwl::CFWLoadPSheet sheet(QString::fromLatin1(kSheetCaption), nullptr, 0, watermark, header);
  ui.SetOwner(&sheet);

  // Documentation pictures: FWLOADER_SCREENSHOT_DIR=<folder> walks the pages
  // (and with FWLOADER_SCREENSHOT_LOAD=1 runs the load on page 5) and exits
  // instead of waiting for the operator.
  const QString shots = qEnvironmentVariable("FWLOADER_SCREENSHOT_DIR");
  if (!shots.isEmpty()) {
    const bool load = qEnvironmentVariableIntValue("FWLOADER_SCREENSHOT_LOAD") != 0;
    return fwl::TakeScreenshotTour(sheet, shots, load) >= (load ? 9 : 7) ? 0 : 1;
  }

  sheet.exec();
  return 0;
}
