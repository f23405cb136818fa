// libFuzzer target: HTTP replies as the switch pages get them - status line,
// headers and body, whole or cut short - read by the HTTP client over a
// real loopback connection, then the body handed to the page readers. A
// small server thread answers each request with the input and closes.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "net/http_client.h"
#include "platform/ui.h"
#include "switch/switch_info.h"
#include "switch/switch_web.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr qint64 kMaxBody = 4096;

std::mutex g_replyLock;
QByteArray g_reply;
int g_port = 0;

void SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    size -= size_t(n);
  }
}

// Reads the request up to its blank line (or a bound), answers with the
// current reply, then waits for the client to close so the closing side's
// TIME_WAIT stays with the client (loopback reuses those ports).
void Serve(int listener) {
  for (;;) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n") && request.size() < 65536) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, n);
    }
    QByteArray reply;
    {
      std::lock_guard<std::mutex> guard(g_replyLock);
      reply = g_reply;
    }
    SendAll(fd, reply.constData(), size_t(reply.size()));
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
  }
}

int StartServer() {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) std::abort();
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0) {
    std::abort();
  }
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread(Serve, listener).detach();
  return ntohs(address.sin_port);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  static fwl::SilentUi ui;
  fwl::Ui::Install(&ui);
  g_port = StartServer();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::lock_guard<std::mutex> guard(g_replyLock);
    g_reply = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
  }
  fwl::HttpLimits limits;
  limits.connectTimeoutMs = 2000;
  limits.transferTimeoutMs = 4000;
  limits.maxBodyBytes = kMaxBody;
  const QByteArray untouched("untouched");
  QByteArray body = untouched;
  const int status =
      fwl::HttpCall(QStringLiteral("127.0.0.1"), g_port, QString(),
                    QString::fromLatin1(fwl::kInfoPageResource), QString(), &body, nullptr,
                    QStringLiteral("admin"), QStringLiteral("secret"), false, false, limits);
  Check(status >= 0 && status <= 999);
  if (status == 0) {
    Check(body == untouched);
    return 0;
  }
  Check(body.size() <= kMaxBody);
  const fwl::SwitchInfo info = fwl::ParseSwitchInfo(body);
  fwl::BoardIndexFromId(info.boardId);
  fwl::SupportsEthernetOnlyLoad(info.fwRev);
  fwl::NetworkLoadingEnabled(body);
  return 0;
}
