// HttpCall on libcurl's multi-socket interface, driven by the thread's Qt
// event loop: curl says which sockets to watch and when its next time-out
// is due, socket notifiers and a timer call it back, and every other event
// of the thread (the window, a TFTP server serving the switch) is handled
// as it arrives instead of between polls.
#include "net/http_client.h"

#include <curl/curl.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "net/http_encoding.h"
#include "platform/ui.h"

namespace fwl {
namespace {

constexpr int kMaxCredentialBytes = 253;
constexpr int kMaxStatusChars = 511;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// State shared with curl's callbacks during one request.
struct Exchange {
  const HttpStatusDisplay* display = nullptr;
  QByteArray body;
  qint64 maxBody = 0;
  bool connecting = false;
  bool connected = false;
  bool sending = false;
  bool responded = false;
  bool headersEnded = false;  // the blank line after the reply's headers came

  void Show(const QString& line) const {
    if (display && *display) (*display)(line.left(kMaxStatusChars));
  }
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const qint64 bytes = qint64(size * count);
  const qint64 room = exchange->maxBody - exchange->body.size();
  if (room > 0) exchange->body.append(data, qsizetype(std::min(room, bytes)));
  // Accepting everything keeps the status intact; extra bytes are dropped.
  return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const size_t bytes = size * count;
  const bool blank =
      (bytes == 2 && data[0] == '\r' && data[1] == '\n') || (bytes == 1 && data[0] == '\n');
  if (blank) exchange->headersEnded = true;
  return bytes;
}

// Turns curl's trace into the status lines of the request's stages.
int OnTrace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const QByteArray text(data, qsizetype(size));
  switch (type) {
    case CURLINFO_TEXT:
      if (!exchange->connecting && text.contains("Trying")) {
        exchange->connecting = true;
        exchange->Show(QStringLiteral("Connecting to socket address "));
      } else if (!exchange->connected && text.startsWith("Connected to")) {
        exchange->connected = true;
        exchange->Show(QStringLiteral("Connected to socket address"));
      }
      break;
    case CURLINFO_HEADER_OUT:
      if (!exchange->sending) {
        exchange->sending = true;
        exchange->Show(QStringLiteral("Sending request..."));
      }
      break;
    case CURLINFO_HEADER_IN:
      if (!exchange->responded) {
        exchange->responded = true;
        exchange->Show(QStringLiteral("Request sent"));
        exchange->Show(QStringLiteral("Response received"));
      }
      break;
    default:
      break;
  }
  return 0;
}

bool HasControlBytes(const QByteArray& text) {
  for (const char c : text) {
    if (quint8(c) < 0x20 || quint8(c) == 0x7f) return true;
  }
  return false;
}

int Failed(bool show = true) {
  if (show) ShowMessage(QString::fromLatin1(kHttpConnectionFailed));
  return 0;
}

// Runs one multi handle on the calling thread's event loop until its one
// transfer is done.
class CurlLoop {
 public:
  explicit CurlLoop(CURLM* multi) : multi_(multi) {
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlLoop::OnSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlLoop::OnTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
  }
  ~CurlLoop() {
    // curl may still report sockets while the handles go; nobody listens.
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, nullptr);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, nullptr);
  }
  CurlLoop(const CurlLoop&) = delete;
  CurlLoop& operator=(const CurlLoop&) = delete;

  // Adds `easy` and dispatches the thread's events until it is done; its
  // curl result.
  CURLcode Run(CURL* easy) {
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) return CURLE_FAILED_INIT;
    if (!done_) loop_.exec(QEventLoop::AllEvents);
    return result_;
  }

 private:
  struct Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
  };

  static int OnSocket(CURL*, curl_socket_t socket, int what, void* user, void*) {
    static_cast<CurlLoop*>(user)->WatchSocket(socket, what);
    return 0;
  }
  static int OnTimer(CURLM*, long timeoutMs, void* user) {
    auto* self = static_cast<CurlLoop*>(user);
    if (timeoutMs < 0) {
      self->timer_.stop();
    } else {
      // Never called back from inside curl: a 0 ms time-out runs from the loop.
      self->timer_.start(int(std::min<long>(timeoutMs, INT_MAX)));
    }
    return 0;
  }

  void WatchSocket(curl_socket_t socket, int what) {
    if (what == CURL_POLL_REMOVE) {
      const auto found = watches_.find(socket);
      if (found == watches_.end()) return;
      // The notifier may be the one whose signal is being handled: it is
      // switched off now and freed with the loop.
      for (auto* notifier : {&found->second.read, &found->second.write}) {
        if (!*notifier) continue;
        (*notifier)->setEnabled(false);
        retired_.push_back(std::move(*notifier));
      }
      watches_.erase(found);
      return;
    }
    Watch& watch = watches_[socket];
    Arm(watch.read, socket, QSocketNotifier::Read, (what & CURL_POLL_IN) != 0, CURL_CSELECT_IN);
    Arm(watch.write, socket, QSocketNotifier::Write, (what & CURL_POLL_OUT) != 0, CURL_CSELECT_OUT);
  }

  void Arm(std::unique_ptr<QSocketNotifier>& notifier, curl_socket_t socket,
           QSocketNotifier::Type type, bool on, int flag) {
    if (on && !notifier) {
      notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
      QObject::connect(notifier.get(), &QSocketNotifier::activated,
                       [this, socket, flag] { Act(socket, flag); });
    }
    if (notifier) notifier->setEnabled(on);
  }

  void Act(curl_socket_t socket, int flags) {
    if (done_) return;
    int running = 0;
    if (curl_multi_socket_action(multi_, socket, flags, &running) != CURLM_OK) {
      Finish(CURLE_FAILED_INIT);
      return;
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg == CURLMSG_DONE) Finish(message->data.result);
    }
  }

  void Finish(CURLcode result) {
    if (done_) return;
    done_ = true;
    result_ = result;
    timer_.stop();
    loop_.quit();
  }

  CURLM* multi_;
  QEventLoop loop_;
  QTimer timer_;
  std::map<curl_socket_t, Watch> watches_;
  std::vector<std::unique_ptr<QSocketNotifier>> retired_;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
};

// A reply that came back but whose first line is no usable status line.
bool NoUsableStatus(CURLcode result, long status) {
  if (result == CURLE_WEIRD_SERVER_REPLY || result == CURLE_UNSUPPORTED_PROTOCOL) return true;
  return result == CURLE_OK && (status < 100 || status > 999);
}

}  // namespace

int HttpCall(const QString& host, int port, const QString& path, const QString& resource,
             const QString& data, QByteArray* output, const HttpStatusDisplay& display,
             const QString& user, const QString& password, bool encodeResource, bool rawBody,
             const HttpLimits& limits) {
  InitCurlOnce();
  QByteArray objectName = path.toLatin1();
  if (!resource.isEmpty()) {
    objectName += encodeResource ? UrlEncode(resource.toLatin1()) : resource.toLatin1();
  }
  const QByteArray encodedBody = UrlEncode(data.toLatin1());
  const bool post = !encodedBody.isEmpty() || rawBody;
  const QByteArray body = rawBody ? data.toLatin1() : encodedBody;

  Exchange exchange;
  exchange.display = &display;
  exchange.maxBody = std::max<qint64>(0, limits.maxBodyBytes);
  exchange.Show(QString());

  // A control byte in the target would end the request line early and let
  // the rest pass as headers of its own.
  const QByteArray target = objectName.startsWith('/') ? objectName : "/" + objectName;
  const QByteArray hostBytes = host.toLatin1();
  if (HasControlBytes(target) || hostBytes.isEmpty() || HasControlBytes(hostBytes) ||
      hostBytes.contains('/') || hostBytes.contains('@') || port <= 0 || port > 65535) {
    return Failed(limits.showFailure);
  }

  exchange.Show(QStringLiteral("Resolving name for %1").arg(host));
  exchange.Show(QStringLiteral("Resolved name for %1").arg(host));

  const QByteArray credentials =
      (user.toLatin1() + ':' + password.toLatin1()).left(kMaxCredentialBytes);
  const QByteArray hostHeader = port == 80 ? hostBytes : hostBytes + ':' + QByteArray::number(port);
  const QByteArray headerLines[] = {
      "Accept: */*",
      "User-Agent: HttpCall",
      "Accept-Language: en-us",
      "Authorization: Basic " + Base64Encode(credentials),
      "Content-Type: application/x-www-form-urlencoded",
      // curl's own Host line would come first; ours follows the fixed block.
      "Host:",
      "Host: " + hostHeader,
  };
  curl_slist* headers = nullptr;
  for (const QByteArray& line : headerLines) headers = curl_slist_append(headers, line.constData());

  CURL* easy = curl_easy_init();
  CURLM* multi = curl_multi_init();
  if (!easy || !multi || !headers) {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    return Failed(limits.showFailure);
  }
  const QByteArray url = "http://" + hostBytes + ':' + QByteArray::number(port) + '/';
  curl_easy_setopt(easy, CURLOPT_URL, url.constData());
  curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.constData());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(std::max(1, limits.connectTimeoutMs)));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(std::max(1, limits.transferTimeoutMs)));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, OnTrace);
  curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &exchange);
  curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  if (post) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.constData());
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }

  CURLcode result = CURLE_OK;
  long status = 0;
  {
    // curl's own time-outs end the transfer; a multi error ends it at once.
    CurlLoop loop(multi);
    result = loop.Run(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    exchange.Show(QStringLiteral("Request complete"));
    exchange.Show(QStringLiteral("Closing the connection to the server"));
    curl_multi_remove_handle(multi, easy);
  }
  curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  curl_slist_free_all(headers);
  exchange.Show(QStringLiteral("Connection to the server closed"));

  // Only a whole reply counts: one cut off after its status line or short
  // of its Content-Length would hand half a page to the caller.
  if (NoUsableStatus(result, status)) return 0;
  if (result != CURLE_OK || !exchange.headersEnded || status < 100 || status > 999) {
    return Failed(limits.showFailure);
  }
  if (output) *output = exchange.body;
  return int(status);
}

}  // namespace fwl
