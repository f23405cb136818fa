// The wizard's pictures, drawn at run time so the program carries no image
// files: the header picture of the interior pages, the tall watermark of the
// welcome page, and the program icon (sheet and welcome page).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace fwl {

// A 49x49 header picture: a chip receiving a download arrow.
QPixmap DrawHeaderPicture();
// A 164x314 watermark: a dark-to-light blue band with the chip motif.
QPixmap DrawWatermarkPicture();
// The program icon at `size` pixels square.
QPixmap DrawProgramIcon(int size);
QIcon ProgramIcon();

}  // namespace fwl
