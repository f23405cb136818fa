#include "wizard/help_viewer.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/help.h"
#include "platform/ui.h"

namespace fwl {
namespace {

class HelpWindow : public QDialog {
 public:
  explicit HelpWindow(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Firmware Loader Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    browser = new QTextBrowser(this);
    browser->setOpenExternalLinks(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    resize(620, 520);
  }
  QTextBrowser* browser;
};

QPointer<HelpWindow> g_window;

}  // namespace

void ShowHelp(QWidget* owner, const QString& helpPath, int contextId) {
  const QString page = HelpPagePath(helpPath);
  if (!QFileInfo(page).isFile()) {
    ShowMessage(QStringLiteral("Unable to open the help file %1.").arg(page),
                QStringLiteral("Help"), UiIcon::kWarning);
    return;
  }
  if (!g_window) g_window = new HelpWindow(owner);
  g_window->browser->setSource(HelpUrl(helpPath, contextId));
  g_window->show();
  g_window->raise();
  g_window->activateWindow();
}

}  // namespace fwl
