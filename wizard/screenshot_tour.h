// Pictures of every wizard page for the documentation: walks the sheet from
// the first page to the last as an operator would, answering the boxes that
// come up, and saves one PNG per page; optionally runs the load on the
// begin-load page and takes it while it runs and when it has ended.
#pragma once

#include <QString>

namespace fwl {

class CFWLoadPSheet;

// Shows `sheet`, visits each page in order and writes "page1.png" ...
// "page6.png" into `folder` (created when missing), then "help.png" of the
// help window. With `runLoad` it presses "Load Now" on page 5 and adds
// "page5-during.png" (the status list while the plan runs) and
// "page5-after.png" (the result box over the finished list). On a real
// screen the pictures include the boxes over the sheet. Returns the number
// of pictures written.
int TakeScreenshotTour(CFWLoadPSheet& sheet, const QString& folder, bool runLoad);

}  // namespace fwl
