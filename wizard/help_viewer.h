// Shows the help pages: one window with the help file open at a page's topic.
#pragma once

#include <QString>

class QWidget;

namespace fwl {

// Opens (or brings up) the help window on the topic `contextId` of the help
// file `helpPath` (see app/help.h for how the page is found). A missing help
// page is reported in a message box; nothing else happens.
void ShowHelp(QWidget* owner, const QString& helpPath, int contextId);

}  // namespace fwl
