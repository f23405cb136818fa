// Pictures of every wizard page for the documentation: walks the sheet from
// the first page to the last and saves one PNG per page.
#pragma once

#include <QString>

namespace fwl {

class CFWLoadPSheet;

// Shows `sheet`, visits each page in order and writes "page1.png" ...
// "page6.png", then "help.png" of the help window, into `folder` (created
// when missing). Returns the number of pictures written.
int TakeScreenshotTour(CFWLoadPSheet& sheet, const QString& folder);

}  // namespace fwl
