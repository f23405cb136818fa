// A LoadEngine with its port open on a scripted pseudo-terminal peer, the
// diagnostic lines it reports, and short time-outs so failure paths run fast.
#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStringList>

#include "engine/load_engine.h"
#include "monitor_peer.h"

namespace fwl::test {

// A boot monitor's answer to "date MMDDhhmmCCYY.ss": the date and time it
// was set to, printed as the boot monitor prints them. `given` receives that
// time; a line that is not such a command is refused and leaves it alone.
inline QByteArray AnswerDate(const QByteArray& line, QDateTime* given) {
  static const QRegularExpression form(
      QStringLiteral("^date (\\d\\d)(\\d\\d)(\\d\\d)(\\d\\d)(\\d{4})\\.(\\d\\d)$"));
  const QRegularExpressionMatch m = form.match(QString::fromLatin1(line));
  const auto field = [&m](int n) { return m.captured(n).toInt(); };
  const QDateTime set(QDate(field(5), field(1), field(2)), QTime(field(3), field(4), field(6)));
  if (!m.hasMatch() || !set.isValid()) return "\r\n## Bad date format\r\n=> ";
  *given = set;
  return QStringLiteral("\r\nDate: %1    Time: %2\r\n=> ")
      .arg(set.date().toString(QStringLiteral("yyyy-MM-dd (dddd)")),
           QString::asprintf("%2d:%02d:%02d", set.time().hour(), set.time().minute(),
                             set.time().second()))
      .toLatin1();
}

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    WriteDeviceSettings(peer.path());
    engine.SetMessageSink([this](const QString& line, void*) { lines << line; }, nullptr);
    // Long enough for a loaded machine to answer, short enough for
    // time-outs to be cheap.
    ConsoleTimings& t = engine.timings;
    t.protectMs = t.eraseFlashMs = t.eraseNandMs = t.writeNandMs = t.copyMemoryMs = 1500;
    t.memoryWriteMs = t.queryMs = t.setClockMs = t.detectBoardMs = t.environmentMs = 1500;
    t.tftpFetchMs = 1500;
    t.mtestStopDelayMs = 50;
    t.resetSettleMs = 50;
    t.reopenPauseMs = 50;
    ASSERT_TRUE(engine.OpenComPort(port));
  }
  void TearDown() override { LoadEngine::CloseComPort(port); }

  // The lines received by the peer, in order.
  QList<QByteArray> Sent() const { return peer.Lines(); }

  MonitorPeer peer;
  LoadEngine engine;
  ComPort port = nullptr;
  QStringList lines;
};

}  // namespace fwl::test
