// A LoadEngine with its port open on a scripted pseudo-terminal peer, the
// diagnostic lines it reports, and short time-outs so failure paths run fast.
#pragma once

#include <gtest/gtest.h>

#include <QSerialPort>
#include <QStringList>

#include "engine/load_engine.h"
#include "monitor_peer.h"

namespace fwl::test {

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
