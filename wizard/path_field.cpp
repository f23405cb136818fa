#include "wizard/path_field.h"

#include <QEvent>
#include <QStyle>
#include <QStyleOptionFrame>

#include "wizard/path_text.h"

namespace fwl {

PathField::PathField(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setMinimumWidth(120);
}

void PathField::SetPath(const QString& path) {
  path_ = path;
  setToolTip(path);
  setAccessibleDescription(path);
  Refresh();
}

int PathField::TextRoom() const {
  QStyleOptionFrame option;
  initStyleOption(&option);
  const QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
  const QMargins m = textMargins();
  // QLineEdit keeps two pixels of its own on each side of the text.
  return r.width() - m.left() - m.right() - 4;
}

void PathField::Refresh() {
  const QString shown =
      path_.isEmpty() ? QString() : ShortenPathForField(path_, fontMetrics(), TextRoom());
  if (text() != shown) setText(shown);
  setCursorPosition(0);
}

void PathField::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  Refresh();
}

void PathField::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Refresh();
}

}  // namespace fwl
