#include "cli/reference_pages.h"

#include <QRegularExpression>
#include <algorithm>

namespace fwl::cli {
namespace {

// One line of text for roff: backslashes shown as such, a line that would
// read as a request (leading "." or "'") made plain text, and the dashes of
// options written as minus signs so that a copied option is what the program
// expects.
QString RoffLine(const QString& line) {
  QString out;
  out.reserve(line.size() + 8);
  if (line.startsWith(u'.') || line.startsWith(u'\'')) out += QStringLiteral("\\&");
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (c == u'\\') {
      out += QStringLiteral("\\e");
    } else if (c == u'-' && (i == 0 || QStringLiteral(" [(|/-=").contains(line[i - 1]))) {
      out += QStringLiteral("\\-");
    } else {
      out += c;
    }
  }
  return out;
}

QString RoffText(const QString& text) {
  QStringList lines = text.split(u'\n');
  for (QString& line : lines) line = RoffLine(line);
  return lines.join(u'\n');
}

// A shell word list of fixed names: the table's names and the words read
// from usage texts hold only letters, digits, "-" and "_", so they need no
// quoting; anything else is left out rather than trusted.
QString ShellWords(const QStringList& words) {
  static const QRegularExpression kPlain(QStringLiteral("^[A-Za-z0-9_-]+$"));
  QStringList kept;
  for (const QString& w : words)
    if (kPlain.match(w).hasMatch()) kept.append(w);
  return kept.join(u' ');
}

constexpr char kManualDescription[] =
    ".B fwload\n"
    "is the Firmware Loader's engine from a terminal: the same catalogue, TFTP\n"
    "server, boot-monitor dialogue and load engine the wizard\n"
    ".BR fwloader (1)\n"
    "uses, one subcommand per capability.\n"
    "Subcommands print plain lines by default; most print JSON lines with\n"
    ".BR \\-\\-json .\n"
    "Power prompts are asked on the terminal or answered by\n"
    ".B \\-\\-power\\-off\\-cmd\n"
    "and\n"
    ".B \\-\\-power\\-on\\-cmd\n"
    "(a command that switches the unit) or\n"
    ".BR \\-\\-yes .\n"
    ".PP\n"
    ".B fwload help\n"
    ".I SUBCOMMAND\n"
    "and\n"
    ".B fwload\n"
    ".I SUBCOMMAND\n"
    ".B \\-\\-help\n"
    "print a subcommand's section below.\n";

constexpr char kManualTail[] =
    ".SH ENVIRONMENT\n"
    ".TP\n"
    ".B FWLOADER_SETTINGS_FILE\n"
    "The settings file to use instead of\n"
    ".IR ~/.config/Brantwell/FirmwareLoader.ini .\n"
    ".TP\n"
    ".B FWLOADER_SYSTEM_DIR\n"
    "The system folder, home of the load parameter file\n"
    ".I ZebUtil.ini\n"
    "and of\n"
    ".IR plexmon.ini ,\n"
    "instead of\n"
    ".IR ~/.local/share/Brantwell/ .\n"
    ".SH FILES\n"
    ".TP\n"
    ".I ~/.config/Brantwell/FirmwareLoader.ini\n"
    "The settings the wizard remembers between runs; sections and value names\n"
    "as the wizard keeps them on Windows.\n"
    ".TP\n"
    ".I /usr/share/firmware\\-loader/samples/firmware/\n"
    "Sample firmware files and bundles for trying the catalogue and the\n"
    "simulated unit (not for real hardware).\n"
    ".SH NOTES\n"
    "The TFTP server listens on UDP port 69 by default. The package grants the\n"
    "programs the capability to bind it as an ordinary user\n"
    "(cap_net_bind_service); serial ports need membership of the\n"
    ".B dialout\n"
    "group.\n"
    ".SH SEE ALSO\n"
    ".BR fwloader (1)\n";

}  // namespace

UsageWords ReadUsageWords(const Subcommand& cmd) {
  UsageWords words;
  const QString usage = QString::fromUtf8(cmd.usage);
  const QString name = QRegularExpression::escape(QString::fromLatin1(cmd.name));

  // Synopsis lines only ("Usage: fwload ..." and the indented lines under
  // it), so prose that happens to name the program adds nothing; upper-case
  // words are placeholders (FILE, DIR), not actions.
  const QRegularExpression synopsis(
      QStringLiteral(
          "^(?:Usage:[ \\t]+|[ \\t]+)fwload %1 ([a-z][a-z0-9-]*(?:\\|[a-z][a-z0-9-]*)*)(?=\\s|$)")
          .arg(name),
      QRegularExpression::MultilineOption);
  for (auto it = synopsis.globalMatch(usage); it.hasNext();) {
    for (const QString& action : it.next().captured(1).split(u'|'))
      if (!words.actions.contains(action)) words.actions.append(action);
  }
  words.actions.sort();

  static const QRegularExpression kOption(QStringLiteral("(?<![\\w-])--[a-z0-9][a-z0-9-]*"));
  for (auto it = kOption.globalMatch(usage); it.hasNext();) {
    const QString option = it.next().captured(0);
    if (option != QLatin1String("--help") && !words.options.contains(option))
      words.options.append(option);
  }
  words.options.sort();

  // The synopsis lines may show an option once per form with one value
  // each ("--method serial" in one, "--method eth" in the next): the values
  // add up. Upper-case words are placeholders, not values.
  std::vector<std::pair<QString, QStringList>> synopsisValues;
  static const QRegularExpression kSynopsisValue(
      QStringLiteral("(?<![\\w-])(--[a-z0-9][a-z0-9-]*)[ =]([a-z][a-z0-9_-]*)(?=\\s|\\]|$)"));
  const QRegularExpression synopsisLine(
      QStringLiteral("^(?:Usage:[ \\t]+|[ \\t]+)fwload %1(?:[ \\t].*)?$").arg(name),
      QRegularExpression::MultilineOption);
  for (auto line = synopsisLine.globalMatch(usage); line.hasNext();) {
    const QString text = line.next().captured(0);
    for (auto it = kSynopsisValue.globalMatch(text); it.hasNext();) {
      const auto match = it.next();
      auto known = std::find_if(synopsisValues.begin(), synopsisValues.end(),
                                [&](const auto& c) { return c.first == match.captured(1); });
      if (known == synopsisValues.end()) {
        synopsisValues.emplace_back(match.captured(1), QStringList{match.captured(2)});
      } else if (!known->second.contains(match.captured(2))) {
        known->second.append(match.captured(2));
      }
    }
  }

  static const QRegularExpression kChoice(
      QStringLiteral("(?<![\\w-])(--[a-z0-9][a-z0-9-]*)[ =]"
                     "([A-Za-z0-9][A-Za-z0-9_-]*(?:\\|[A-Za-z0-9][A-Za-z0-9_-]*)+)(?![\\w|-])"));
  for (auto it = kChoice.globalMatch(usage); it.hasNext();) {
    const auto match = it.next();
    const QString option = match.captured(1);
    const bool known = std::any_of(words.choices.begin(), words.choices.end(),
                                   [&](const auto& c) { return c.first == option; });
    if (!known) words.choices.emplace_back(option, match.captured(2).split(u'|'));
  }
  for (const auto& [option, values] : synopsisValues) {
    // Named in the capture: clang before 16 cannot capture a structured binding.
    auto known = std::find_if(words.choices.begin(), words.choices.end(),
                              [&name = option](const auto& c) { return c.first == name; });
    if (known == words.choices.end()) {
      words.choices.emplace_back(option, values);
    } else {
      for (const QString& v : values)
        if (!known->second.contains(v)) known->second.append(v);
    }
  }
  return words;
}

QString ManualPage(const std::vector<Subcommand>& commands) {
  QString page;
  page += QStringLiteral(
      ".\\\" Made by \"fwload --man\" from the program's own help texts; edit those instead.\n");
  page += QStringLiteral(".TH FWLOAD 1 \"\" \"fwload %1\" \"User Commands\"\n").arg(FWL_VERSION);
  page += QStringLiteral(".SH NAME\nfwload \\- %1\n").arg(RoffLine(kProgramTitle));
  page += QStringLiteral(
      ".SH SYNOPSIS\n"
      ".B fwload\n.I SUBCOMMAND\n.RI [ OPTIONS ]\n.br\n"
      ".B fwload help\n.I SUBCOMMAND\n.br\n"
      ".B fwload\n.BR \\-\\-help \" | \" \\-\\-version\n");
  page += QStringLiteral(".SH DESCRIPTION\n") + QLatin1String(kManualDescription);
  page += QStringLiteral(".SH SUBCOMMANDS\n");
  for (const Subcommand& c : commands) {
    page += QStringLiteral(".SS \"fwload %1\"\n").arg(QString::fromLatin1(c.name));
    page += RoffLine(QString::fromUtf8(c.summary)) + QStringLiteral(".\n");
    page += QStringLiteral(".PP\n.nf\n") + RoffText(QString::fromUtf8(c.usage)) +
            QStringLiteral("\n.fi\n");
  }
  page +=
      QStringLiteral(".SH EXIT STATUS\n") + RoffLine(QString::fromLatin1(kExitStatusText)) + u'\n';
  page += QLatin1String(kManualTail);
  return page;
}

QString BashCompletion(const std::vector<Subcommand>& commands) {
  QStringList names;
  for (const Subcommand& c : commands) names.append(QString::fromLatin1(c.name));

  QString arms;
  for (const Subcommand& c : commands) {
    const QString name = ShellWords({QString::fromLatin1(c.name)});
    if (name.isEmpty()) continue;  // not a word the shell could take as it is
    const UsageWords words = ReadUsageWords(c);
    arms += QStringLiteral("        %1)\n").arg(name);
    if (!words.actions.isEmpty())
      arms += QStringLiteral("            actions=\"%1\"\n").arg(ShellWords(words.actions));
    arms += QStringLiteral("            options=\"%1\"\n").arg(ShellWords(words.options));
    if (!words.choices.empty()) {
      arms += QStringLiteral("            case $prev in\n");
      for (const auto& [option, values] : words.choices)
        arms += QStringLiteral("                %1) values=\"%2\" ;;\n")
                    .arg(ShellWords({option}), ShellWords(values));
      arms += QStringLiteral("            esac\n");
    }
    arms += QStringLiteral("            ;;\n");
  }

  return QStringLiteral(
             "# bash completion for fwload                              -*- shell-script -*-\n"
             "# Made by \"fwload --completion bash\" from the program's own help texts.\n"
             "\n"
             "_fwload() {\n"
             "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
             "    local commands=\"%1\"\n"
             "    if ((COMP_CWORD == 1)); then\n"
             "        COMPREPLY=($(compgen -W \"$commands help --help --version\" -- \"$cur\"))\n"
             "        return\n"
             "    fi\n"
             "    local actions=\"\" options=\"\" values=\"\"\n"
             "    case ${COMP_WORDS[1]} in\n"
             "        help)\n"
             "            if ((COMP_CWORD == 2)); then\n"
             "                COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
             "            fi\n"
             "            return\n"
             "            ;;\n"
             "%2"
             "        *)\n"
             "            return\n"
             "            ;;\n"
             "    esac\n"
             "    if [[ -n $values ]]; then\n"
             "        COMPREPLY=($(compgen -W \"$values\" -- \"$cur\"))\n"
             "    elif [[ $cur == -* ]]; then\n"
             "        COMPREPLY=($(compgen -W \"$options --help\" -- \"$cur\"))\n"
             "    elif ((COMP_CWORD == 2)) && [[ -n $actions ]]; then\n"
             "        COMPREPLY=($(compgen -W \"$actions\" -- \"$cur\"))\n"
             "    fi\n"
             "}\n"
             "complete -o bashdefault -o default -F _fwload fwload\n")
      .arg(ShellWords(names), arms);
}

}  // namespace fwl::cli
