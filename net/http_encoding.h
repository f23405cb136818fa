// The two text encoders of the HTTP client: Base64 for the Basic
// authorisation header and the form-style URL encoding the switches' web
// pages expect (which differs from a generic percent-encoder on purpose).
#pragma once

#include <QByteArray>

namespace fwl {

// RFC 4648 Base64 of the bytes of `text`, standard alphabet, "=" padding.
QByteArray Base64Encode(const QByteArray& text);

// Form-style encoding: ASCII letters and digits are kept, a space becomes
// "+", every other byte becomes "%" and two lower-case hexadecimal digits
// ("-", ".", "/", "=", "&" and "?" included).
QByteArray UrlEncode(const QByteArray& text);

}  // namespace fwl
