// The batch's shared TFTP server with real clients on loopback addresses:
// each load hears only of its own unit's transfers, on its own thread, even
// when two units fetch the same file at the same moment; a client no load
// expects is served as by any server; each image is read once.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QThread>
#include <atomic>

#include "app/settings.h"
#include "batch/shared_tftp_server.h"
#include "platform/wait_pumping.h"
#include "sim/sim_tftp_client.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

// A load's thread: opens a session and keeps its event loop running until
// its unit's transfer ended.
class LoadThread final : public QThread {
 public:
  LoadThread(SharedTftpServer& server, QString client, QString folder, QString preload)
      : server_(server), client_(client), folder_(folder), preload_(preload) {}
  void run() override {
    TftpSessionRequest request;
    request.clientAddress = client_;
    request.folder = folder_;
    request.preload << preload_;
    request.onEvent = [this](const TftpEvent& event) {
      EXPECT_EQ(QThread::currentThread(), this);
      events.push_back(event);
      ++heard;
    };
    request.onStatus = [this](int, const QString&, int) { ++statusTexts; };
    QString error;
    auto session = server_.Open(request, &error);
    opened = session != nullptr;
    ready = true;
    WaitPumpingUntil([this] { return events.size() >= 2 || stop.load(); }, 20000);
  }
  std::vector<TftpEvent> events;
  int statusTexts = 0;
  std::atomic<bool> ready{false}, stop{false};
  std::atomic<int> heard{0};
  bool opened = false;

 private:
  SharedTftpServer& server_;
  QString client_, folder_, preload_;
};

TEST(SharedTftpServerTest, EachLoadHearsOnlyItsOwnUnitAndOthersAreServedAsUsual) {
  QTemporaryDir images, other;
  const QByteArray image = RandomBytes(300000, 21);
  const QByteArray stray = RandomBytes(5000, 22);
  WriteFileOrFail(images.path() + "/kvimagea_mums3_9_1", image);
  WriteFileOrFail(other.path() + "/kvimagea_mums3_9_1", stray);
  // A request no load expects is served from the stored folder, as always.
  SetSettingText(kSectionTftp, "outbound", other.path() + "/");

  SharedTftpSettings settings;
  settings.port = FreeUdpPort();
  settings.bindAddress = QHostAddress::LocalHost;
  SharedTftpServer server(settings);
  QString error;
  ASSERT_TRUE(server.Start(&error)) << error.toStdString();

  const QString path = images.path() + "/kvimagea_mums3_9_1";
  LoadThread a(server, "127.0.0.51", images.path() + "/", path);
  LoadThread b(server, "127.0.0.52", images.path() + "/", path);
  a.start();
  b.start();
  ASSERT_TRUE(WaitPumpingUntil([&] { return a.ready && b.ready; }, 10000));
  ASSERT_TRUE(a.opened && b.opened);
  // A second session for an address already taken is refused.
  EXPECT_EQ(server.Open(TftpSessionRequest{"127.0.0.51", images.path(), {}, {}, {}}, &error),
            nullptr);

  // Both units ask for the same file at the same moment; a third address
  // nobody expects asks too.
  struct Client {
    SimTftpClient tftp;
    std::shared_ptr<QByteArray> data = std::make_shared<QByteArray>();
    bool done = false, ok = false;
  };
  Client clients[3];
  const char* from[3] = {"127.0.0.51", "127.0.0.52", "127.0.0.53"};
  for (int i = 0; i < 3; ++i) {
    SimTftpClient::Settings s;
    s.localAddress = QHostAddress(from[i]);
    s.capacity = 1 << 24;
    SimTftpClient::Callbacks callbacks;
    auto data = clients[i].data;
    callbacks.block = [data](quint64, const QByteArray& bytes) {
      data->append(bytes);
      return true;
    };
    Client* c = &clients[i];
    callbacks.finished = [c](bool good, quint64, const QString&) {
      c->done = true;
      c->ok = good;
    };
    ASSERT_TRUE(clients[i].tftp.Start(QHostAddress::LocalHost, server.Port(), "kvimagea_mums3_9_1",
                                      s, callbacks, &error))
        << error.toStdString();
  }
  ASSERT_TRUE(WaitPumpingUntil(
      [&] { return clients[0].done && clients[1].done && clients[2].done; }, 20000));
  // The server's end of a transfer comes with the client's last ACK, a
  // moment after the client has all the data.
  EXPECT_TRUE(WaitPumpingUntil([&] { return a.heard >= 2 && b.heard >= 2; }, 10000));
  a.stop = b.stop = true;
  a.wait();
  b.wait();

  EXPECT_TRUE(clients[0].ok && clients[1].ok && clients[2].ok);
  EXPECT_EQ(*clients[0].data, image);
  EXPECT_EQ(*clients[1].data, image);
  EXPECT_EQ(*clients[2].data, stray);
  for (LoadThread* load : {&a, &b}) {
    ASSERT_EQ(load->events.size(), 2u);
    EXPECT_EQ(load->events[0].kind, kTftpEventTransferStarted);
    EXPECT_EQ(load->events[1].kind, kTftpEventTransferComplete);
    EXPECT_GT(load->statusTexts, 0);
  }
  EXPECT_EQ(a.events[1].clientAddress, "127.0.0.51");
  EXPECT_EQ(b.events[1].clientAddress, "127.0.0.52");
  // One copy in memory for both loads.
  EXPECT_EQ(server.CachedBytes(), image.size());
  server.Stop();
}

}  // namespace
}  // namespace fwl::test
