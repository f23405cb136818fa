#include "sim/sim_http_request.h"

namespace fwl {

QByteArray SimHttpRequest::Header(const QByteArray& name) const {
  for (const auto& [key, value] : headers) {
    if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
  }
  return QByteArray();
}

SimHttpParser::Outcome SimHttpParser::Feed(const QByteArray& bytes) {
  buffer_ += bytes;
  if (headerEnd_ < 0) {
    const qsizetype end = buffer_.indexOf("\r\n\r\n");
    if (end < 0) return buffer_.size() > kSimHttpMaxHeaderBytes ? kTooLarge : kIncomplete;
    if (end > kSimHttpMaxHeaderBytes) return kTooLarge;
    headerEnd_ = end + 4;
    const QList<QByteArray> lines = buffer_.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    if (first.size() != 3 || first[0].isEmpty() || first[1].isEmpty()) return kBad;
    request_.method = first[0];
    request_.target = first[1];
    request_.version = first[2];
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
      const qsizetype colon = line.indexOf(':');
      if (colon <= 0) return kBad;
      request_.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    const QByteArray length = request_.Header("Content-Length");
    if (!length.isEmpty()) {
      bool ok = false;
      const qlonglong value = length.toLongLong(&ok);
      if (!ok || value < 0) return kBad;
      if (value > kSimHttpMaxBodyBytes) return kTooLarge;
      contentLength_ = qsizetype(value);
    }
  }
  if (buffer_.size() - headerEnd_ < contentLength_) return kIncomplete;
  request_.body = buffer_.mid(headerEnd_, contentLength_);
  request_.raw = buffer_.left(headerEnd_ + contentLength_);
  return kComplete;
}

QByteArray SimPercentDecode(const QByteArray& text, bool formValue) {
  QByteArray out;
  out.reserve(text.size());
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else if (c == '+' && formValue) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

QList<QPair<QByteArray, QByteArray>> SimParseForm(const QByteArray& text) {
  QList<QPair<QByteArray, QByteArray>> pairs;
  for (const QByteArray& part : text.split('&')) {
    if (part.isEmpty()) continue;
    const qsizetype eq = part.indexOf('=');
    const QByteArray name = eq < 0 ? part : part.left(eq);
    const QByteArray value = eq < 0 ? QByteArray() : part.mid(eq + 1);
    pairs.append({SimPercentDecode(name, true), SimPercentDecode(value, true)});
  }
  return pairs;
}

}  // namespace fwl
