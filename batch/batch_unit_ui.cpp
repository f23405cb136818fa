#include "batch/batch_unit_ui.h"

#include <QProcess>

namespace fwl {

BatchUnitUi::BatchUnitUi(Settings settings) : settings_(std::move(settings)) {}

bool BatchUnitUi::RunCommand(const QString& what, const QString& command) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
  QString failure;
  if (!process.waitForStarted(10000)) {
    failure = QStringLiteral("could not run \"%1\"").arg(command);
  } else if (!process.waitForFinished(settings_.commandTimeoutMs)) {
    process.kill();
    process.waitForFinished(2000);
    failure = QStringLiteral("\"%1\" did not finish").arg(command);
  } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    failure = QStringLiteral("\"%1\" failed (exit status %2)").arg(command).arg(process.exitCode());
  }
  if (!failure.isEmpty() && settings_.message)
    settings_.message(what + QStringLiteral(": ") + failure, false);
  return failure.isEmpty();
}

int BatchUnitUi::MessageBox(const QString& text, const QString& caption, UiIcon icon,
                            UiButtons buttons) {
  if (settings_.message) {
    const bool question = buttons == UiButtons::kYesNo || buttons == UiButtons::kYesNoCancel;
    settings_.message(caption.isEmpty() || text.startsWith(caption) ? text : caption + ": " + text,
                      question);
  }
  if (caption.compare(QLatin1String("Turn Power OFF"), Qt::CaseInsensitive) == 0 &&
      !settings_.powerOffCommand.isEmpty() && !RunCommand(caption, settings_.powerOffCommand)) {
    return kAnswerCancel;
  }
  return SilentUi::MessageBox(text, caption, icon, buttons);
}

void BatchUnitUi::ShowPrompt(const QString& title, const QString& text) {
  promptCancelled_ = false;
  if (settings_.message) settings_.message(title + ": " + text, false);
  if (title.compare(QLatin1String("Turn Power ON"), Qt::CaseInsensitive) == 0 &&
      !settings_.powerOnCommand.isEmpty() && !RunCommand(title, settings_.powerOnCommand)) {
    promptCancelled_ = true;
  }
}

void BatchUnitUi::SetPromptText(const QString& text) {
  if (settings_.message) settings_.message(text, false);
}

bool BatchUnitUi::PromptCancelled() { return promptCancelled_; }

void BatchUnitUi::BeginProgress(const QString& text, int, UiCancel) {
  if (settings_.progress) settings_.progress(text);
}

void BatchUnitUi::SetProgress(int, const QString& text) {
  if (settings_.progress) settings_.progress(text);
}

bool BatchUnitUi::ProgressCancelled() { return false; }

}  // namespace fwl
