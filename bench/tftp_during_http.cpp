// TFTP while an HTTP request is open: a switch fetches its images exactly
// while the loader waits for its reply to the install request. In one
// process, a 16 MiB preloaded image is served by our TFTP server to a plain
// lock-step client in another thread, once with nothing else going on and
// once while HttpCall waits on the same thread for a server that holds its
// reply until the download is done. Prints both times and their ratio
// (best of RUNS each); exits 1 when the ratio is above 1.2.
//   bench_tftp_during_http [RUNS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/settings.h"
#include "net/http_client.h"
#include "platform/wait_pumping.h"
#include "tftp/tftp_server.h"

namespace {

constexpr int kImageBytes = 16 << 20;
constexpr int kBlockSize = 1468;  // what the switches ask for
constexpr double kLimit = 1.2;

// A web server on its own thread that answers each request only once
// `release` is set.
class HeldServer : public QThread {
 public:
  std::atomic<bool> release{false};
  std::atomic<quint16> port{0};

 protected:
  void run() override {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) return;
    port = server.serverPort();
    QList<QTcpSocket*> waiting;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
      while (QTcpSocket* socket = server.nextPendingConnection()) waiting << socket;
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!release) return;
      for (QTcpSocket* socket : waiting) {
        socket->readAll();
        socket->write("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
        socket->disconnectFromHost();
      }
      waiting.clear();
    });
    poll.start(2);
    exec();
  }
};

void PutU16(char* p, unsigned v) {
  p[0] = char(v >> 8);
  p[1] = char(v & 0xff);
}
unsigned GetU16(const char* p) { return (unsigned(quint8(p[0])) << 8) | quint8(p[1]); }

// Fetches `file` from 127.0.0.1:port; the bytes received, -1 on failure.
qint64 Fetch(quint16 port, const char* file) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  timeval timeout{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  char packet[kBlockSize + 4];
  char request[256];
  int length = 0;
  PutU16(request, 1);
  length = 2;
  auto add = [&](const char* text) {
    const int n = int(std::strlen(text)) + 1;
    std::memcpy(request + length, text, size_t(n));
    length += n;
  };
  add(file);
  add("octet");
  add("blksize");
  add(QByteArray::number(kBlockSize).constData());
  char last[4];
  int lastLength = length;
  sockaddr_in peer = server;
  ::sendto(fd, request, size_t(length), 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
  const char* resend = request;
  qint64 received = 0;
  unsigned expected = 1;
  int misses = 0;
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
      if (++misses > 5) break;
      ::sendto(fd, resend, size_t(lastLength), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
      continue;
    }
    misses = 0;
    if (n < 4) continue;
    const unsigned opcode = GetU16(packet);
    peer = from;
    if (opcode == 6) {  // OACK: acknowledge it as block 0
      PutU16(last, 4);
      PutU16(last + 2, 0);
    } else if (opcode == 3 && GetU16(packet + 2) == (expected & 0xffff)) {
      received += n - 4;
      PutU16(last, 4);
      PutU16(last + 2, expected & 0xffff);
      ++expected;
    } else if (opcode == 5) {
      break;
    } else {
      continue;
    }
    resend = last;
    lastLength = 4;
    ::sendto(fd, last, 4, 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    if (opcode == 3 && n - 4 < kBlockSize) {
      ::close(fd);
      return received;
    }
  }
  ::close(fd);
  return -1;
}

// One download in a thread of its own; milliseconds, or -1.
struct Download {
  std::atomic<bool> done{false};
  std::atomic<qint64> ms{-1};
  std::thread thread;

  void Start(quint16 port) {
    thread = std::thread([this, port] {
      QElapsedTimer timer;
      timer.start();
      const qint64 bytes = Fetch(port, "image.bin");
      ms = bytes == kImageBytes ? timer.elapsed() : -1;
      done = true;
    });
  }
  void Join() {
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  QTemporaryDir dir;
  if (!dir.isValid()) return 2;
  fwl::SetSettingsFile(dir.path() + "/bench_settings.ini");
  {
    QFile image(dir.path() + "/image.bin");
    if (!image.open(QIODevice::WriteOnly)) return 2;
    QByteArray bytes(kImageBytes, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), kImageBytes / 4);
    image.write(bytes);
  }

  // Served as the switch install serves its images.
  fwl::TftpServer server;
  server.SetBindAddress(QHostAddress::LocalHost);
  server.SetListenPort(0);
  server.SetPercentOnly(1);
  server.SetOutboundFolder(dir.path() + "/");
  server.SetRetries(2);
  QString lastText;
  server.SetStatusCallback([&](int, const QString& text, int, void*) { lastText = text; }, nullptr);
  if (!server.PreloadFile(dir.path() + "/image.bin") || server.Start() != 0) return 2;
  const quint16 tftpPort = server.ListeningPort();

  HeldServer web;
  web.start();
  while (web.port == 0) QThread::msleep(5);

  qint64 bestOutside = -1, bestDuring = -1;
  for (int run = 0; run < runs; ++run) {
    Download outside;
    outside.Start(tftpPort);
    fwl::WaitPumpingUntil([&] { return outside.done.load(); }, 120000, 100);
    outside.Join();

    Download during;
    web.release = false;
    QTimer::singleShot(50, [&] { during.Start(tftpPort); });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (during.done) web.release = true;
    });
    watch.start(5);
    QByteArray body;
    const int status = fwl::HttpCall("127.0.0.1", web.port, "/held", QString(), QString(), &body,
                                     {}, "u", "p", false, false);
    watch.stop();
    during.Join();
    if (outside.ms < 0 || during.ms < 0 || status != 200) {
      std::fprintf(stderr, "run %d failed (outside %lld ms, during %lld ms, HTTP %d)\n", run,
                   static_cast<long long>(outside.ms.load()),
                   static_cast<long long>(during.ms.load()), status);
      return 2;
    }
    std::printf("run %d: outside a request %lld ms, during a held request %lld ms\n", run,
                static_cast<long long>(outside.ms.load()),
                static_cast<long long>(during.ms.load()));
    if (bestOutside < 0 || outside.ms < bestOutside) bestOutside = outside.ms;
    if (bestDuring < 0 || during.ms < bestDuring) bestDuring = during.ms;
  }
  web.quit();
  web.wait();
  server.Stop();

  const double ratio = double(bestDuring) / double(std::max<qint64>(1, bestOutside));
  std::printf("16 MiB image: best outside %lld ms, best during %lld ms, ratio %.2f (limit %.1f)\n",
              static_cast<long long>(bestOutside), static_cast<long long>(bestDuring), ratio,
              kLimit);
  return ratio <= kLimit ? 0 : 1;
}
