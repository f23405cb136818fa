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

// The status list's state pictures, 16x16 at the device pixel ratio of the
// screen: 0 pending (hollow grey circle), 1 working (blue circle with a
// play mark), 2 ERROR (red circle with a cross), 3 OK (green circle with a
// tick). Other states give a null pixmap.
QPixmap DrawStateIcon(int state, qreal devicePixelRatio = 1.0);
// The "Load Now" button's 32x32 picture: the chip with a green arrow.
QIcon LoadNowIcon();

}  // namespace fwl
