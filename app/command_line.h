// The wizard's command line: the option table (/Station, /Project,
// /Production with their shortest accepted abbreviations) and the parser that
// fills the application object, telling the operator about arguments it drops.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "app/application.h"

namespace fwl {

// Messages shown (OK button) for arguments the parser drops.
inline constexpr char kDocumentIgnored[] = "Document %s ignored";
inline constexpr char kExtraValueIgnored[] = "Extra value %s for /%s ignored";
inline constexpr char kUnexpectedValueIgnored[] = "Unexpected value %s ignored";

// Parser states besides an option index (0 or more: that option's value is
// awaited).
inline constexpr int kExpectArgument = -3;
inline constexpr int kOptionWithoutValue = -2;
inline constexpr int kUnknownFlag = -1;

struct CommandLineOption {
  QString name;
  int minLength;   // shortest accepted abbreviation; -1 only for the end marker
  bool* present;   // set when the option is seen, or nullptr
  QString* value;  // receives the option's value, or nullptr
};

// What the parser passes on to the standard handling, which the program
// otherwise ignores: flags not in the table, their parameters, the document
// name. "/pt" (print to) is the one standard flag that changes parsing.
struct StandardCommandLine {
  QString documentName;
  QStringList flags;
  QStringList parameters;
  bool printTo = false;
};

class CommandLineParser {
 public:
  // Builds the option table on `app` and clears its values.
  explicit CommandLineParser(Application& app);

  // Handles one argument. `flag`: it began with "/" or "-" (which the caller
  // removed); `last`: no argument follows. Dropped arguments are reported
  // through Ui::Current() with an OK box; parsing always goes on.
  void ParseParam(const QString& param, bool flag, bool last);

  int state() const { return state_; }
  const std::vector<CommandLineOption>& options() const { return options_; }
  const StandardCommandLine& standard() const { return standard_; }

 private:
  void ParseFlag(const QString& param, bool last);
  void ParsePlain(const QString& param, bool last);
  void Report(const QString& text);

  std::vector<CommandLineOption> options_;
  StandardCommandLine standard_;
  int state_ = kExpectArgument;
};

// Parses the arguments after the program name into `app`, a leading "/" or
// "-" marking a flag; a "/" argument whose name part holds another "/" is an
// absolute path, i.e. a plain argument. A relative /Project value is made
// absolute against the current folder. Returns what went to the standard
// handling.
StandardCommandLine ParseCommandLine(const QStringList& args, Application& app);

// Fills the "%s" holes of a message in order, without reading anything in
// the values as further holes.
QString FillMessage(const char* format, const QStringList& values);

}  // namespace fwl
