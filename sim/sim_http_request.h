// The simulated switch's side of HTTP: collects one request from a byte
// stream (request line, headers, a body of Content-Length bytes), with hard
// limits so a hostile or broken client cannot make it allocate without end.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace fwl {

inline constexpr qsizetype kSimHttpMaxHeaderBytes = 16 * 1024;
inline constexpr qsizetype kSimHttpMaxBodyBytes = 64 * 1024;

struct SimHttpRequest {
  QByteArray raw;  // every byte received, request line to end of body
  QByteArray method;
  QByteArray target;  // as sent
  QByteArray version;
  QList<QPair<QByteArray, QByteArray>> headers;  // in order, names as sent
  QByteArray body;

  // First value of header `name` (compared without regard to case).
  QByteArray Header(const QByteArray& name) const;
};

// Feeds received bytes; Parse answers whether a whole request is there.
class SimHttpParser {
 public:
  enum Outcome { kIncomplete, kComplete, kBad, kTooLarge };

  // Appends `bytes` and tries to complete the request.
  Outcome Feed(const QByteArray& bytes);
  const SimHttpRequest& request() const { return request_; }

 private:
  QByteArray buffer_;
  SimHttpRequest request_;
  qsizetype headerEnd_ = -1;
  qsizetype contentLength_ = 0;
};

// Percent-decoding of a target or form value ("+" stays as it is in a path,
// becomes a space in a form value).
QByteArray SimPercentDecode(const QByteArray& text, bool formValue);

// "a=1&b=2" as ordered pairs, values decoded as form values.
QList<QPair<QByteArray, QByteArray>> SimParseForm(const QByteArray& text);

}  // namespace fwl
