#include "net/http_encoding.h"

namespace fwl {

QByteArray Base64Encode(const QByteArray& text) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  QByteArray out;
  out.reserve((text.size() + 2) / 3 * 4);
  qsizetype i = 0;
  for (; i + 2 < text.size(); i += 3) {
    const quint32 v = (quint8(text[i]) << 16) | (quint8(text[i + 1]) << 8) | quint8(text[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const qsizetype rest = text.size() - i;
  if (rest == 1) {
    const quint32 v = quint8(text[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    const quint32 v = (quint8(text[i]) << 16) | (quint8(text[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

QByteArray UrlEncode(const QByteArray& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  QByteArray out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    const quint8 b = quint8(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
      out += c;
    } else if (b == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

}  // namespace fwl
