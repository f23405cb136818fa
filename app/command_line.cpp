#include "app/command_line.h"

#include <QFileInfo>

#include "app/settings.h"
#include "platform/ui.h"

namespace fwl {
namespace {

// Placeholder for the document name and end of the table; neither matches.
constexpr char kDocPlaceholder[] = "$$Doc";
constexpr char kEndMarker[] = "$$End";

// On this platform an absolute path also begins with "/". No option name
// holds a "/", so one in the name part (before any "=") marks a path such as
// "/home/op/plant.6pj" given as a value, not a flag.
bool LooksLikePath(const QString& arg) {
  const QString name = arg.mid(1).section(QLatin1Char('='), 0, 0);
  return name.contains(QLatin1Char('/'));
}

}  // namespace

QString FillMessage(const char* format, const QStringList& values) {
  const QString text = QString::fromLatin1(format);
  QString out;
  qsizetype next = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('%') && i + 1 < text.size() && text[i + 1] == QLatin1Char('s')) {
      if (next < values.size()) out += values[next];
      ++next;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

CommandLineParser::CommandLineParser(Application& app) {
  auto add = [this](const char* name, int minLength, QString* value) {
    if (minLength <= 0) minLength = 1;
    if (value) value->clear();
    options_.push_back({QString::fromLatin1(name), minLength, nullptr, value});
  };
  add(kDocPlaceholder, 1, nullptr);
  add("Station", 3, &app.Station);
  add("Project", 4, &app.Project);
  add("Production", 4, &app.Production);
  options_.push_back({QString::fromLatin1(kEndMarker), -1, nullptr, nullptr});
}

void CommandLineParser::Report(const QString& text) {
  Ui::Current().MessageBox(text, OemString(kAppNameEntry), UiIcon::kWarning, UiButtons::kOk);
}

void CommandLineParser::ParseParam(const QString& param, bool flag, bool last) {
  if (flag) {
    state_ = kExpectArgument;
    ParseFlag(param, last);
  } else {
    ParsePlain(param, last);
  }
}

void CommandLineParser::ParseFlag(const QString& param, bool last) {
  const qsizetype equals = param.indexOf(QLatin1Char('='));
  const QString typed = equals < 0 ? param : param.left(equals);
  for (int i = 1; i + 1 < int(options_.size()); ++i) {
    CommandLineOption& option = options_[i];
    if (typed.size() < option.minLength || !option.name.startsWith(typed, Qt::CaseInsensitive)) {
      continue;
    }
    if (option.present) *option.present = true;
    state_ = option.value ? i : kOptionWithoutValue;
    if (equals >= 0) ParsePlain(param.mid(equals + 1), last);
    return;
  }
  standard_.flags << param;
  if (param.compare(QLatin1String("pt"), Qt::CaseInsensitive) == 0) standard_.printTo = true;
  state_ = kUnknownFlag;
}

void CommandLineParser::ParsePlain(const QString& param, bool) {
  if (state_ == kExpectArgument) {
    if (!standard_.documentName.isEmpty() && !standard_.printTo) {
      Report(FillMessage(kDocumentIgnored, {param}));
    } else if (standard_.documentName.isEmpty()) {
      standard_.documentName = param;
    } else {
      standard_.parameters << param;  // printer, driver, port of "/pt"
    }
  } else if (state_ >= 0) {
    CommandLineOption& option = options_[state_];
    if (!option.value->isEmpty()) {
      Report(FillMessage(kExtraValueIgnored, {param, option.name}));
    } else {
      *option.value = param;
    }
  } else if (state_ == kOptionWithoutValue) {
    Report(FillMessage(kUnexpectedValueIgnored, {param}));
  } else {
    standard_.parameters << param;
  }
}

StandardCommandLine ParseCommandLine(const QStringList& args, Application& app) {
  CommandLineParser parser(app);
  for (int i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    const bool flag = arg.startsWith(QLatin1Char('-')) ||
                      (arg.startsWith(QLatin1Char('/')) && !LooksLikePath(arg));
    parser.ParseParam(flag ? arg.mid(1) : arg, flag, i + 1 == args.size());
  }
  // The project is the operator's document: a name without a folder means
  // the folder the wizard was started in, fixed now so later reads (and the
  // remembered "last dest proj") do not depend on where they happen.
  if (!app.Project.isEmpty()) app.Project = QFileInfo(app.Project).absoluteFilePath();
  return parser.standard();
}

}  // namespace fwl
