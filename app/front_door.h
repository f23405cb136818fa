// What the wizard program does before any window exists: "--help" and
// "--version" are answered on the terminal, and without a graphical display
// the user is told to use fwload instead of the GUI library aborting with
// advice to reinstall. Links no GUI code, so it can run before the
// application object is made.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace fwl {

enum class FrontDoor { kRunWizard, kPrintUsage, kPrintVersion, kNoDisplay };

// Told on stderr (exit status 1) when there is no display for the wizard.
inline constexpr char kNoDisplayText[] =
    "fwloader: the wizard needs a graphical display, and none was found (DISPLAY and "
    "WAYLAND_DISPLAY are not set, or the display cannot be reached).\n"
    "On a terminal, fwload does the same work: \"fwload --help\" lists what it does.\n";

// Chooses from the arguments after the program name (as given, before the
// GUI library takes its own out) and the environment. "--help", "-h" and
// "/?" print the usage, "--version" the version, whatever else is given.
// Otherwise the wizard runs when a display can be expected: a platform
// chosen with "-platform" or QT_QPA_PLATFORM (an X11 or Wayland one only
// with its display variable set), or DISPLAY or WAYLAND_DISPLAY set.
FrontDoor ChooseFrontDoor(const QStringList& args, const QProcessEnvironment& env);

// The text of "fwloader --help" and the line of "fwloader --version".
QString WizardUsage();
QString WizardVersionLine();

// While in scope, a failure of the GUI library to open any display (a
// display variable pointing at no server) ends the process with
// kNoDisplayText and exit status 1 instead of an abort. Other messages pass.
class NoDisplayGuard {
 public:
  NoDisplayGuard();
  ~NoDisplayGuard();
  NoDisplayGuard(const NoDisplayGuard&) = delete;
  NoDisplayGuard& operator=(const NoDisplayGuard&) = delete;
};

}  // namespace fwl
