#include "wizard/wizard_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace fwl {
namespace {

const QColor kDeepBlue(0x12, 0x3f, 0x6e);
const QColor kMidBlue(0x2f, 0x6d, 0xa8);
const QColor kPaleBlue(0xd9, 0xe7, 0xf4);
const QColor kChipBody(0x2b, 0x2f, 0x36);
const QColor kPin(0xc8, 0xb0, 0x5a);
const QColor kArrow(0x3c, 0xb3, 0x71);

// A square chip with pins on all four sides and a download arrow entering it
// from above, drawn into `box`.
void DrawChip(QPainter& p, const QRectF& box) {
  const qreal unit = box.width() / 16.0;
  const QRectF body = box.adjusted(unit * 3.5, unit * 5.5, -unit * 3.5, -unit * 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(kPin);
  const int pins = 4;
  for (int i = 0; i < pins; ++i) {
    const qreal offset = body.left() + unit * 1.2 + i * (body.width() - unit * 2.4) / (pins - 1);
    const qreal vOffset = body.top() + unit * 1.2 + i * (body.height() - unit * 2.4) / (pins - 1);
    p.drawRect(QRectF(offset - unit * 0.4, body.top() - unit * 1.2, unit * 0.8, unit * 1.2));
    p.drawRect(QRectF(offset - unit * 0.4, body.bottom(), unit * 0.8, unit * 1.2));
    p.drawRect(QRectF(body.left() - unit * 1.2, vOffset - unit * 0.4, unit * 1.2, unit * 0.8));
    p.drawRect(QRectF(body.right(), vOffset - unit * 0.4, unit * 1.2, unit * 0.8));
  }
  p.setBrush(kChipBody);
  p.drawRoundedRect(body, unit * 0.8, unit * 0.8);
  p.setBrush(QColor(255, 255, 255, 60));
  p.drawEllipse(QPointF(body.left() + unit * 1.4, body.top() + unit * 1.4), unit * 0.5, unit * 0.5);

  QPainterPath arrow;
  const qreal cx = box.center().x();
  arrow.moveTo(cx - unit * 1.2, box.top() + unit * 0.3);
  arrow.lineTo(cx + unit * 1.2, box.top() + unit * 0.3);
  arrow.lineTo(cx + unit * 1.2, box.top() + unit * 5.0);
  arrow.lineTo(cx + unit * 3.0, box.top() + unit * 5.0);
  arrow.lineTo(cx, box.top() + unit * 9.0);
  arrow.lineTo(cx - unit * 3.0, box.top() + unit * 5.0);
  arrow.lineTo(cx - unit * 1.2, box.top() + unit * 5.0);
  arrow.closeSubpath();
  p.setPen(QPen(Qt::white, unit * 0.5));
  p.setBrush(kArrow);
  p.drawPath(arrow);
}

}  // namespace

QPixmap DrawHeaderPicture() {
  QPixmap pixmap(49, 49);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  DrawChip(p, QRectF(0.5, 0.5, 48, 48));
  return pixmap;
}

QPixmap DrawWatermarkPicture() {
  QPixmap pixmap(164, 314);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient band(0, 0, 0, 314);
  band.setColorAt(0.0, kDeepBlue);
  band.setColorAt(0.6, kMidBlue);
  band.setColorAt(1.0, kPaleBlue);
  p.fillRect(pixmap.rect(), band);

  // Faint circuit traces behind the chip.
  p.setPen(QPen(QColor(255, 255, 255, 45), 2));
  for (int i = 0; i < 6; ++i) {
    const int y = 40 + i * 44;
    p.drawLine(0, y, 40 + (i % 3) * 18, y);
    p.drawLine(40 + (i % 3) * 18, y, 60 + (i % 3) * 18, y + 20);
    p.drawEllipse(QPointF(60 + (i % 3) * 18, y + 20), 3, 3);
  }
  DrawChip(p, QRectF(34, 150, 96, 96));
  return pixmap;
}

QPixmap DrawProgramIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kPaleBlue);
  p.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
  DrawChip(p, QRectF(size * 0.05, size * 0.05, size * 0.9, size * 0.9));
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(DrawProgramIcon(size));
  return icon;
}

QPixmap DrawStateIcon(int state, qreal devicePixelRatio) {
  if (state < 0 || state > 3) return QPixmap();
  const int side = qRound(16 * devicePixelRatio);
  QPixmap pixmap(side, side);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF circle(1.5, 1.5, 13, 13);
  switch (state) {
    case 0:  // pending
      p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1.5));
      p.setBrush(QColor(0xf2, 0xf2, 0xf2));
      p.drawEllipse(circle);
      break;
    case 1: {  // working
      p.setPen(QPen(kDeepBlue, 1));
      p.setBrush(kMidBlue);
      p.drawEllipse(circle);
      QPainterPath play;
      play.moveTo(6.2, 4.8);
      play.lineTo(11.6, 8.0);
      play.lineTo(6.2, 11.2);
      play.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(play);
      break;
    }
    case 2:  // ERROR
      p.setPen(QPen(QColor(0x8b, 0x10, 0x10), 1));
      p.setBrush(QColor(0xd3, 0x2f, 0x2f));
      p.drawEllipse(circle);
      p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
      p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
      break;
    case 3: {  // OK
      p.setPen(QPen(QColor(0x1b, 0x5e, 0x20), 1));
      p.setBrush(QColor(0x38, 0x9e, 0x3c));
      p.drawEllipse(circle);
      QPainterPath tick;
      tick.moveTo(4.6, 8.3);
      tick.lineTo(7.0, 10.7);
      tick.lineTo(11.4, 5.4);
      p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(Qt::NoBrush);
      p.drawPath(tick);
      break;
    }
  }
  return pixmap;
}

QIcon LoadNowIcon() {
  QIcon icon;
  for (int side : {32, 64}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawChip(p, QRectF(0, 0, side, side));
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace fwl
