// One HTTP/1.0 request with Basic authentication, as the managed switches'
// web pages expect it: fixed header block, form-style encoded object names
// and bodies, the reply's status code and body. The calling thread's event
// loop keeps running while the request is under way.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace fwl {

// Receives each status line of a request (at most 511 characters; an empty
// line clears the display).
using HttpStatusDisplay = std::function<void(const QString& line)>;

// Bounds of one request, so a dead or hostile server cannot hang the
// program or exhaust its memory.
struct HttpLimits {
  int connectTimeoutMs = 10000;   // TCP connect
  int transferTimeoutMs = 60000;  // the whole request, connect included
  qint64 maxBodyBytes = 4 << 20;  // reply bytes kept; the rest is dropped
  // False for a look whose failure is the caller's to judge quietly (the
  // switch's page read once more after its restart): no box is shown.
  bool showFailure = true;
};

inline constexpr char kHttpConnectionFailed[] = "Connection to Server Failed";

// Sends one request to host:port.
// - Object name: `path` + `resource`, the resource passed through UrlEncode
//   first when `encodeResource` is set. On the wire the request target is
//   that name with a "/" put in front when it does not begin with one, sent
//   byte for byte.
// - Verb: GET when the encoded `data` is empty and `rawBody` is not set,
//   POST otherwise; the body is `data` as given with `rawBody`, else its
//   UrlEncode form.
// - Headers, always and in this order: Accept, User-Agent "HttpCall",
//   Accept-Language, Authorization (Basic of user ":" password, cut to 253
//   bytes, also when both are empty), Content-Type form-urlencoded; then
//   Host and, for POST, Content-Length.
// Returns the reply's status code with the body in `output` (from its
// start), or 0 with `output` left untouched when there is no whole reply:
// - the request could not be sent, nothing came back, or the reply was cut
//   off (after its status line, or shorter than its Content-Length): then
//   "Connection to Server Failed" is shown through the Ui service;
// - a reply came back without a usable status line: no box here, the
//   caller's own message is the one the operator sees.
// Status lines go to `display` when given. The thread's event loop runs
// while the request is under way and wakes on the request's sockets and
// timers, so servers owned by this thread keep their full pace.
int HttpCall(const QString& host, int port, const QString& path, const QString& resource,
             const QString& data, QByteArray* output, const HttpStatusDisplay& display,
             const QString& user, const QString& password, bool encodeResource, bool rawBody,
             const HttpLimits& limits = HttpLimits());

}  // namespace fwl
