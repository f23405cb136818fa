#include "cli/password_prompt.h"

#include <termios.h>
#include <unistd.h>

#include <QProcessEnvironment>
#include <cstdio>
#include <string>

namespace fwl::cli {

QString AskPasswordNoEcho(const QString& prompt) {
  if (!::isatty(STDIN_FILENO)) return QString();
  termios saved{};
  const bool canHide = ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (canHide) {
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::fprintf(stderr, "%s", qPrintable(prompt));
  std::fflush(stderr);
  std::string line;
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    if (line.size() < 1024) line += char(c);
  }
  if (canHide) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fprintf(stderr, "\n");
  return QString::fromLocal8Bit(line.c_str());
}

bool PasswordFromEnvironment(const QString& variable, QString* password) {
  const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (!env.contains(variable)) return false;
  *password = env.value(variable);
  return true;
}

}  // namespace fwl::cli
