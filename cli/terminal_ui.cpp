#include "cli/terminal_ui.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QDateTime>
#include <QProcess>
#include <algorithm>
#include <cerrno>
#include <csignal>

namespace fwl::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
struct sigaction g_previousInterrupt;

void OnInterrupt(int) { g_interrupted = 1; }

QString Key(const QString& name) { return name.trimmed().toCaseFolded(); }

const char* IconWord(UiIcon icon) {
  switch (icon) {
    case UiIcon::kWarning:
      return "warning: ";
    case UiIcon::kError:
      return "error: ";
    default:
      return "";
  }
}

// The choices offered for a button set, the first being the default on a
// bare Enter.
struct Choice {
  const char* word;
  int answer;
};

QList<Choice> Choices(UiButtons buttons) {
  switch (buttons) {
    case UiButtons::kOk:
      return {{"ok", kAnswerOk}};
    case UiButtons::kOkCancel:
      return {{"ok", kAnswerOk}, {"cancel", kAnswerCancel}};
    case UiButtons::kYesNo:
      return {{"yes", kAnswerYes}, {"no", kAnswerNo}};
    case UiButtons::kYesNoCancel:
      return {{"yes", kAnswerYes}, {"no", kAnswerNo}, {"cancel", kAnswerCancel}};
    case UiButtons::kRetryCancel:
      return {{"retry", kAnswerRetry}, {"cancel", kAnswerCancel}};
  }
  return {{"ok", kAnswerOk}};
}

int AffirmativeAnswer(UiButtons buttons) { return Choices(buttons).first().answer; }

int NegativeAnswer(UiButtons buttons) {
  switch (buttons) {
    case UiButtons::kOk:
      return kAnswerOk;
    case UiButtons::kYesNo:
    case UiButtons::kYesNoCancel:
      return kAnswerNo;
    default:
      return kAnswerCancel;
  }
}

}  // namespace

TerminalUi::TerminalUi(const TerminalUiOptions& options) : options_(options) {
  if (options_.out == nullptr) options_.out = stderr;
  interactive_ = options_.interactive < 0 ? isatty(options_.inFd) == 1 : options_.interactive != 0;
}

TerminalUi::~TerminalUi() {
  while (interruptCatchers_ > 0) CatchInterrupt(false);
}

void TerminalUi::OnMessage(const QString& caption, TerminalUiHook hook) {
  messageHooks_.insert(Key(caption), std::move(hook));
}

void TerminalUi::OnPrompt(const QString& title, TerminalUiHook hook) {
  promptHooks_.insert(Key(title), std::move(hook));
}

TerminalUiHook TerminalUi::CommandHook(const QString& command, int timeoutMs) {
  return [command, timeoutMs](const QString& caption, const QString&) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    if (!process.waitForStarted(10000)) {
      std::fprintf(stderr, "%s: could not run \"%s\"\n", qPrintable(caption), qPrintable(command));
      return false;
    }
    if (!process.waitForFinished(timeoutMs)) {
      process.kill();
      process.waitForFinished(2000);
      std::fprintf(stderr, "%s: \"%s\" did not finish in %d ms\n", qPrintable(caption),
                   qPrintable(command), timeoutMs);
      return false;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
      std::fprintf(stderr, "%s: \"%s\" did not exit normally\n", qPrintable(caption),
                   qPrintable(command));
      return false;
    }
    if (process.exitCode() != 0) {
      std::fprintf(stderr, "%s: \"%s\" failed (exit status %d)\n", qPrintable(caption),
                   qPrintable(command), process.exitCode());
      return false;
    }
    return true;
  };
}

void TerminalUi::Print(const QString& line) {
  std::fprintf(options_.out, "%s\n", qPrintable(line));
  std::fflush(options_.out);
}

int TerminalUi::MessageBox(const QString& text, const QString& caption, UiIcon icon,
                           UiButtons buttons) {
  QString head = QString::fromLatin1(IconWord(icon));
  if (!caption.isEmpty()) head += caption + QStringLiteral(": ");
  Print(head + text);

  const auto hook = messageHooks_.constFind(Key(caption));
  if (hook != messageHooks_.constEnd() && *hook) {
    // A failed stand-in must not pass for the operator's OK (e.g. the unit
    // may still be powered), so an OK-only box then answers Cancel.
    if ((*hook)(caption, text)) return AffirmativeAnswer(buttons);
    return buttons == UiButtons::kOk ? kAnswerCancel : NegativeAnswer(buttons);
  }
  if (buttons == UiButtons::kOk) return kAnswerOk;

  const int unattended = options_.assumeYes ? AffirmativeAnswer(buttons) : NegativeAnswer(buttons);
  const QList<Choice> choices = Choices(buttons);
  if (!interactive_) {
    for (const Choice& c : choices)
      if (c.answer == unattended) Print(QStringLiteral("(answered %1)").arg(c.word));
    return unattended;
  }

  QStringList words;
  for (const Choice& c : choices) words << QString::fromLatin1(c.word);
  for (;;) {
    std::fprintf(options_.out, "[%s] ", qPrintable(words.join('/')));
    std::fflush(options_.out);
    QString line;
    if (!ReadLine(&line)) {
      Print(QString());
      return unattended;
    }
    line = line.trimmed().toLower();
    if (line.isEmpty()) return choices.first().answer;
    for (const Choice& c : choices)
      if (QString::fromLatin1(c.word).startsWith(line)) return c.answer;
  }
}

void TerminalUi::ShowPrompt(const QString& title, const QString& text) {
  const bool retitled = !promptOpen_ || Key(title) != Key(promptTitle_);
  if (!promptOpen_) {
    promptCancelled_ = false;
    CatchInterrupt(true);
  }
  promptOpen_ = true;
  promptTitle_ = title;
  Print(title + QStringLiteral(": ") + text);
  const auto hook = promptHooks_.constFind(Key(title));
  if (hook != promptHooks_.constEnd() && *hook) {
    if (retitled && !(*hook)(title, text)) promptCancelled_ = true;
    return;
  }
  Print(interactive_ ? QStringLiteral("  (type c and Enter, or press Ctrl-C, to cancel)")
                     : QStringLiteral("  (press Ctrl-C to cancel)"));
}

void TerminalUi::SetPromptText(const QString& text) {
  if (promptOpen_) Print(promptTitle_ + QStringLiteral(": ") + text);
}

bool TerminalUi::LatchCancel(bool& cancelled) {
  if (g_interrupted) cancelled = true;
  if (!cancelled && PollCancelLine()) cancelled = true;
  return cancelled;
}

bool TerminalUi::PromptCancelled() { return promptOpen_ && LatchCancel(promptCancelled_); }

void TerminalUi::ClosePrompt() {
  if (!promptOpen_) return;
  promptOpen_ = false;
  promptTitle_.clear();
  CatchInterrupt(false);
}

void TerminalUi::BeginProgress(const QString& text, int maximum, UiCancel) {
  if (!progressOpen_) CatchInterrupt(true);
  progressOpen_ = true;
  progressCancelled_ = false;
  progressMaximum_ = maximum;
  progressText_ = text;
  lastPercent_ = -1;
  lastProgressLineMs_ = QDateTime::currentMSecsSinceEpoch();
  if (!text.isEmpty()) Print(text);
}

void TerminalUi::SetProgress(int value, const QString& text) {
  if (!progressOpen_) return;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const int percent = progressMaximum_ > 0
                          ? int(std::clamp<qint64>(qint64(value) * 100 / progressMaximum_, 0, 100))
                          : -1;
  const bool newText = !text.isEmpty() && text != progressText_;
  const bool due = percent != lastPercent_ && percent >= 0 &&
                   (now - lastProgressLineMs_ >= options_.progressIntervalMs || percent == 100);
  if (!text.isEmpty()) progressText_ = text;
  if (!newText && !due) return;
  lastProgressLineMs_ = now;
  if (percent >= 0) {
    lastPercent_ = percent;
    Print(QStringLiteral("%1 (%2%)").arg(progressText_).arg(percent));
  } else {
    Print(progressText_);
  }
}

bool TerminalUi::ProgressCancelled() { return progressOpen_ && LatchCancel(progressCancelled_); }

void TerminalUi::EndProgress() {
  if (!progressOpen_) return;
  progressOpen_ = false;
  CatchInterrupt(false);
}

void TerminalUi::SetWaitCursor(bool) {}

bool TerminalUi::ReadLine(QString* line) {
  QByteArray bytes = pendingInput_.toLocal8Bit();
  pendingInput_.clear();
  for (;;) {
    const int newline = bytes.indexOf('\n');
    if (newline >= 0) {
      *line = QString::fromLocal8Bit(bytes.left(newline));
      pendingInput_ = QString::fromLocal8Bit(bytes.mid(newline + 1));
      return true;
    }
    if (bytes.size() > 4096) bytes = bytes.right(4096);  // nobody types that much
    char buffer[256];
    const ssize_t n = ::read(options_.inFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (bytes.isEmpty()) return false;
      *line = QString::fromLocal8Bit(bytes);
      return true;
    }
    bytes.append(buffer, int(n));
  }
}

bool TerminalUi::PollCancelLine() {
  if (!interactive_) return false;
  for (;;) {
    const int newline = pendingInput_.indexOf('\n');
    if (newline >= 0) {
      const QString line = pendingInput_.left(newline).trimmed().toLower();
      pendingInput_.remove(0, newline + 1);
      if (line == QLatin1String("c") || line == QLatin1String("cancel")) return true;
      continue;
    }
    pollfd p{options_.inFd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP))) return false;
    char buffer[256];
    const ssize_t n = ::read(options_.inFd, buffer, sizeof buffer);
    if (n <= 0) {
      interactive_ = false;  // input closed: Ctrl-C is the only way left
      return false;
    }
    pendingInput_ += QString::fromLocal8Bit(buffer, int(n));
    if (pendingInput_.size() > 4096) pendingInput_ = pendingInput_.right(4096);
  }
}

// Ctrl-C cancels an open prompt or progress window instead of ending the
// program, so a load can give up cleanly (close the port, stop the server).
void TerminalUi::CatchInterrupt(bool on) {
  if (on) {
    if (interruptCatchers_++ == 0) {
      g_interrupted = 0;
      struct sigaction action {};
      action.sa_handler = OnInterrupt;
      sigemptyset(&action.sa_mask);
      sigaction(SIGINT, &action, &g_previousInterrupt);
    }
  } else if (interruptCatchers_ > 0 && --interruptCatchers_ == 0) {
    sigaction(SIGINT, &g_previousInterrupt, nullptr);
    g_interrupted = 0;
  }
}

}  // namespace fwl::cli
