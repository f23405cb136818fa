// Paths shown in fields and list columns that are narrower than the path:
// the product page's folder and project fields, and the transfer rows of the
// status list. Both measure with the font of the control that shows them.
#pragma once

#include <QFontMetrics>
#include <QString>

namespace fwl {

// The text that shows `path` in a field `fieldWidth` pixels wide drawn with
// `metrics`: the whole path when it fits with 5 pixels to spare; else the
// root (drive or first folder, "." or the leading "..\" run), "\...\" and as
// much of the end of the middle part as fits, then the file name; else
// "...\" and the file name (or, for a rooted path, a root cut from the right
// until it fits). The separators are the path's own.
QString ShortenPathForField(const QString& path, const QFontMetrics& metrics, int fieldWidth);

// `path` with its middle replaced by "..." so that it fits `width` pixels,
// keeping the file name whole where it can (the path ellipsis of list rows).
QString PathEllipsis(const QString& path, const QFontMetrics& metrics, int width);

}  // namespace fwl
