// HttpCall on libcurl's multi interface: the transfer advances in short
// slices between which the thread's events are dispatched, so the window and
// any TFTP server owned by this thread stay live during the request.
#include "net/http_client.h"

#include <curl/curl.h>

#include <mutex>

#include "net/http_encoding.h"
#include "platform/ui.h"
#include "platform/wait_pumping.h"

namespace fwl {
namespace {

constexpr int kMaxCredentialBytes = 253;
constexpr int kMaxStatusChars = 511;
constexpr int kSliceMs = 10;

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

int Failed() {
  ShowMessage(QString::fromLatin1(kHttpConnectionFailed));
  return 0;
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
    return Failed();
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
    return Failed();
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

  curl_multi_add_handle(multi, easy);
  // curl's own time-outs end the transfer; a multi error ends it at once.
  int running = 1;
  while (running && curl_multi_perform(multi, &running) == CURLM_OK && running) {
    curl_multi_poll(multi, nullptr, 0, kSliceMs, nullptr);
    WaitPumping(0);
  }
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  exchange.Show(QStringLiteral("Request complete"));
  exchange.Show(QStringLiteral("Closing the connection to the server"));
  curl_multi_remove_handle(multi, easy);
  curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  curl_slist_free_all(headers);
  exchange.Show(QStringLiteral("Connection to the server closed"));

  // A reply cut short after its status line still carries that status; only
  // a request that got no status at all has failed.
  if (status <= 0 || status > 999) return Failed();
  if (output) *output = exchange.body;
  return int(status);
}

}  // namespace fwl
