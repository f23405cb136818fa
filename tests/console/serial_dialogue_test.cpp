// The serial dialogue over a real pseudo-terminal: opening with the line
// settings, reply collection, flushing, reporting and the reset.
#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include "console/line_settings.h"
#include "console_fixture.h"
#include "engine/load_parameter_file.h"
#include "platform/ini_file.h"

namespace fwl::test {
namespace {

using SerialDialogueTest = ConsoleTest;

TEST(LineSettingsTest, DeviceTextsMapToLineSettings) {
  struct Case {
    const char* parity;
    const char* stopbits;
    int wantParity;
    bool wantTwoStop;
  };
  const Case cases[] = {
      {"none", "1", 0, false},  {"NONE", "1.5", 0, true},   {"None", "", 0, true},
      {"odd", "2", 1, true},    {"EVEN", "1", 2, false},    {"Mark", "1", 3, false},
      {"space", "1", 4, false}, {"garbage", "1", 0, false},
  };
  for (const Case& c : cases) {
    const LineSettings s = ParseLineSettings("19200 bps", "7", c.parity, c.stopbits);
    EXPECT_EQ(s.parity, c.wantParity) << c.parity;
    EXPECT_EQ(s.twoStopBits, c.wantTwoStop) << c.stopbits;
    EXPECT_EQ(s.baud, 19200);
    EXPECT_EQ(s.dataBits, 7);
  }
  EXPECT_EQ(ParseLineSettings("", "", "", "").baud, 0);
}

TEST_F(SerialDialogueTest, OpeningUsesTheDeviceSection) {
  // The fixture opened the pty at 9600 8N1 from the parameter file.
  EXPECT_EQ(port->baudRate(), 9600);
  EXPECT_EQ(port->dataBits(), QSerialPort::Data8);
  EXPECT_EQ(port->parity(), QSerialPort::NoParity);
  EXPECT_EQ(port->stopBits(), QSerialPort::OneStop);
  LoadEngine::CloseComPort(port);

  // Unusable settings close the device again without a message.
  const QString file = LoadParameterFilePath();
  WritePrivateProfileString("Device", "Baud", "fast", file);
  EXPECT_FALSE(engine.OpenComPort(port));
  EXPECT_EQ(port, nullptr);
  EXPECT_TRUE(lines.isEmpty());
  // The device is free again: a good setting opens it.
  WritePrivateProfileString("Device", "Baud", "9600", file);
  ASSERT_TRUE(engine.OpenComPort(port));
  LoadEngine::CloseComPort(port);
  // A missing device is reported.
  WritePrivateProfileString("Device", "Comport", "ttyNoSuchPort", file);
  EXPECT_FALSE(engine.OpenComPort(port));
  EXPECT_EQ(lines, QStringList{"Failed to open comport."});
}

TEST_F(SerialDialogueTest, CollectReplyFindsALaterPromptAndReturnsEarly) {
  peer.SetEcho(false);
  QElapsedTimer clock;
  clock.start();
  peer.Send("=> leftover\r\nreply text\r\n=> ");
  QByteArray reply;
  EXPECT_TRUE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 5000));
  EXPECT_LT(clock.elapsed(), 2500);
  EXPECT_TRUE(reply.startsWith("=> leftover"));
  EXPECT_TRUE(reply.endsWith("=> "));
}

TEST_F(SerialDialogueTest, CollectReplyRejectsPromptAtFirstByteAndAfterNul) {
  peer.SetEcho(false);
  QByteArray reply;
  peer.Send("=> ");
  EXPECT_FALSE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 300));
  EXPECT_EQ(reply, "=> ");
  peer.Send(QByteArray("text\0more\r\n=> ", 15));
  EXPECT_FALSE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 300));
  EXPECT_EQ(reply.size(), 15);
}

TEST_F(SerialDialogueTest, CollectReplyKeepsAtMostCapacityLessOneBytesOfNoise) {
  peer.SetEcho(false);
  QByteArray noise(15000, 'x');
  for (int i = 0; i < noise.size(); i += 7) noise[i] = static_cast<char>(i * 31);
  noise.replace("=>", "==");
  peer.Send(noise);
  QByteArray reply;
  EXPECT_FALSE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 700));
  EXPECT_EQ(reply.size(), kReplyBufferSize - 1);
  EXPECT_EQ(reply, noise.left(kReplyBufferSize - 1));
}

TEST_F(SerialDialogueTest, FlushInputWaitsForQuietAndReportsAVanishedPort) {
  peer.SetEcho(false);
  peer.Send(QByteArray(3000, 'a'));
  QThread::msleep(50);
  EXPECT_TRUE(engine.FlushInput(port));
  QByteArray reply;
  peer.Send("fresh\r\n=> ");
  ASSERT_TRUE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 2000));
  EXPECT_EQ(reply, "fresh\r\n=> ");

  peer.Unplug();
  EXPECT_FALSE(engine.FlushInput(port));
  EXPECT_EQ(lines, QStringList{"Error flushing comport buffer."});
}

TEST_F(SerialDialogueTest, AVanishedPortEndsCollectionAtOnce) {
  peer.Unplug();
  QElapsedTimer clock;
  clock.start();
  QByteArray reply;
  EXPECT_FALSE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 60000));
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_FALSE(engine.WritePort(port, "version\r"));
}

TEST_F(SerialDialogueTest, ReplyLinesAreRunsOfPrintableCharacters) {
  engine.ReportReplyLines(QByteArray("one\r\ntwo\tthree\x01\x7f\xff\0four\n\n", 25));
  EXPECT_EQ(lines, (QStringList{"one", "two", "three", "four"}));
  lines.clear();
  engine.ReportFailure("Heading:", "x\r\n=> ");
  EXPECT_EQ(lines, (QStringList{"Heading:", "x", "=> ", "End of response."}));
}

TEST_F(SerialDialogueTest, ResetAndReopenSendsResetAndOpensThePortAgain) {
  ComPort reopened = engine.ResetAndReopen(port);
  port = nullptr;  // consumed
  ASSERT_NE(reopened, nullptr);
  EXPECT_TRUE(reopened->isOpen());
  EXPECT_EQ(Sent(), QList<QByteArray>{"reset"});
  EXPECT_EQ(lines, QStringList{"Resetting station."});
  port = reopened;
}

TEST_F(SerialDialogueTest, ResetAndReopenGivesUpAfterSevenAttempts) {
  WritePrivateProfileString("Device", "Comport", "/dev/pts/no-such-pty", LoadParameterFilePath());
  QElapsedTimer clock;
  clock.start();
  ComPort reopened = engine.ResetAndReopen(port);
  port = nullptr;
  EXPECT_EQ(reopened, nullptr);
  EXPECT_EQ(lines.count("Failed to open comport."), 7);
  // Settle pause plus six pauses between the attempts.
  EXPECT_GE(clock.elapsed(), 50 + 6 * 50);
}

}  // namespace
}  // namespace fwl::test
