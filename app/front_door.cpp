#include "app/front_door.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

namespace fwl {
namespace {

bool IsSet(const QProcessEnvironment& env, const char* name) {
  return !env.value(QLatin1String(name)).isEmpty();
}

// One platform name of QT_QPA_PLATFORM ("xcb", "wayland-egl", "offscreen",
// options after ":" left out): can it show windows here?
bool PlatformUsable(const QString& entry, const QProcessEnvironment& env) {
  const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
  if (name.isEmpty()) return false;
  if (name == QLatin1String("xcb")) return IsSet(env, "DISPLAY");
  if (name.startsWith(QLatin1String("wayland"))) return IsSet(env, "WAYLAND_DISPLAY");
  return true;  // offscreen, vnc, eglfs, linuxfb...: the user chose them
}

bool DisplayExpected(const QStringList& args, const QProcessEnvironment& env) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  for (const QString& arg : args)
    if (arg == QLatin1String("-platform") || arg == QLatin1String("--platform")) return true;
  const QString platforms = env.value(QStringLiteral("QT_QPA_PLATFORM"));
  if (!platforms.trimmed().isEmpty()) {
    // A list separated by ";" is tried in order.
    for (const QString& entry : platforms.split(QLatin1Char(';')))
      if (PlatformUsable(entry, env)) return true;
    return false;
  }
  return IsSet(env, "DISPLAY") || IsSet(env, "WAYLAND_DISPLAY");
#else
  Q_UNUSED(args);
  Q_UNUSED(env);
  return true;
#endif
}

QtMessageHandler g_previousHandler = nullptr;

void NoDisplayHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  // Qt's text for a display it cannot open is fatal and would abort.
  if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
    std::fputs(kNoDisplayText, stderr);
    std::fflush(stderr);
    // Inside the application object's construction: nothing may run after.
    std::_Exit(1);
  }
  if (g_previousHandler) g_previousHandler(type, context, message);
}

}  // namespace

FrontDoor ChooseFrontDoor(const QStringList& args, const QProcessEnvironment& env) {
  bool version = false;
  for (const QString& arg : args) {
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h") || arg == QLatin1String("/?"))
      return FrontDoor::kPrintUsage;
    if (arg == QLatin1String("--version")) version = true;
  }
  if (version) return FrontDoor::kPrintVersion;
  return DisplayExpected(args, env) ? FrontDoor::kRunWizard : FrontDoor::kNoDisplay;
}

QString WizardUsage() {
  return QStringLiteral(
      "Usage: fwloader [/Station=NAME] [/Project=FILE] [/Production=VALUE]\n"
      "       fwloader --help | --version\n"
      "\n"
      "The Firmware Loader wizard: loads firmware into stations and managed Ethernet\n"
      "switches. Started without options it loads managed switches; with /Station\n"
      "(and /Project) it also offers that station of that project file.\n"
      "An option begins with / or -, its name may be shortened (/sta, /proj, /prod,\n"
      "in any case) and its value follows = or comes as the next argument.\n"
      "  /Station=NAME      the station to load\n"
      "  /Project=FILE      the project file (.6pj) that describes the station\n"
      "  /Production=VALUE  accepted; it has no effect\n"
      "  --help             print this text and exit\n"
      "  --version          print the version and exit\n"
      "\n"
      "The wizard needs a graphical display. On a terminal, fwload does the same\n"
      "work (fwload --help).\n");
}

QString WizardVersionLine() { return QStringLiteral("fwloader " FWL_VERSION "\n"); }

NoDisplayGuard::NoDisplayGuard() { g_previousHandler = qInstallMessageHandler(NoDisplayHandler); }

NoDisplayGuard::~NoDisplayGuard() {
  qInstallMessageHandler(g_previousHandler);
  g_previousHandler = nullptr;
}

}  // namespace fwl
