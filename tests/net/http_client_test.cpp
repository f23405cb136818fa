// HttpCall against a plain TCP server on loopback that records the bytes it
// receives and answers with whatever the test scripts: the exact request, the
// status and body handed back, and every way a server can fail.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>

#include "net/http_encoding.h"
#include "support/scripted_ui.h"

namespace fwl::test {
namespace {

TEST(HttpEncoding, Base64) {
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode(":"), "Og==");
  EXPECT_EQ(Base64Encode(QByteArray("\xff\xfe\x00\x7f", 4)), "//4Afw==");
  const QByteArray all = [] {
    QByteArray b;
    for (int i = 0; i < 256; ++i) b += char(i);
    return b;
  }();
  EXPECT_EQ(Base64Encode(all), all.toBase64());
}

TEST(HttpEncoding, UrlEncodeKeepsOnlyLettersAndDigits) {
  EXPECT_EQ(UrlEncode("cgi-bin/rmtconf.cgi"), "cgi%2dbin%2frmtconf%2ecgi");
  EXPECT_EQ(UrlEncode("/cgi-bin/getinfo.cgi"), "%2fcgi%2dbin%2fgetinfo%2ecgi");
  EXPECT_EQ(UrlEncode("tftp=10.0.0.1&file=x"), "tftp%3d10%2e0%2e0%2e1%26file%3dx");
  EXPECT_EQ(UrlEncode("a b?\n"), "a+b%3f%0a");
  EXPECT_EQ(UrlEncode(QByteArray("\x00\xff_~", 4)), "%00%ff%5f%7e");
  EXPECT_EQ(UrlEncode("AZaz09"), "AZaz09");
}

// Answers each connection with `reply` once `expectBytes` (or the end of the
// headers when 0) have arrived; records what came in.
class ScriptedServer {
 public:
  ScriptedServer() {
    EXPECT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      QTcpSocket* socket = server.nextPendingConnection();
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        received += socket->readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (end < 0 || answered) return;
        const qsizetype length =
            received.contains("Content-Length: ")
                ? received.mid(received.indexOf("Content-Length: ") + 16).split('\r')[0].toInt()
                : 0;
        if (received.size() < end + 4 + length) return;
        answered = true;
        if (silent) return;
        socket->write(reply);
        socket->disconnectFromHost();
      });
    });
  }
  quint16 port() const { return server.serverPort(); }

  QTcpServer server;
  QByteArray received;
  QByteArray reply = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";
  bool answered = false;
  bool silent = false;
};

class HttpCallTest : public ::testing::Test {
 protected:
  int Call(const QString& path, const QString& resource, const QString& data, bool encode, bool raw,
           const QString& user = "admin", const QString& password = "pw") {
    ScopedUi scoped(&ui);
    return HttpCall(
        "127.0.0.1", server.port(), path, resource, data, &body,
        [this](const QString& line) { lines << line; }, user, password, encode, raw, limits);
  }
  QByteArray Headers(const QByteArray& credentials = "YWRtaW46cHc=") const {
    return "Accept: */*\r\nUser-Agent: HttpCall\r\nAccept-Language: en-us\r\n"
           "Authorization: Basic " +
           credentials +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "Host: 127.0.0.1:" +
           QByteArray::number(server.port()) + "\r\n";
  }

  ScriptedServer server;
  ScriptedUi ui;
  HttpLimits limits;
  QByteArray body = "untouched";
  QStringList lines;
};

TEST_F(HttpCallTest, GetWithAnEncodedResource) {
  EXPECT_EQ(Call("", "cgi-bin/rmtconf.cgi", "", true, false), 200);
  EXPECT_EQ(server.received, "GET /cgi%2dbin%2frmtconf%2ecgi HTTP/1.0\r\n" + Headers() + "\r\n");
  EXPECT_EQ(body, "hello");
  EXPECT_TRUE(ui.messageTexts().isEmpty());
  EXPECT_TRUE(lines.contains("Connecting to socket address "));
  EXPECT_TRUE(lines.contains("Sending request..."));
  EXPECT_TRUE(lines.contains("Response received"));
  EXPECT_EQ(lines.first(), "");
  EXPECT_EQ(lines.last(), "Connection to the server closed");
}

TEST_F(HttpCallTest, ResourceWithoutEncodingIsSentAsGiven) {
  const QString query = "cgi-bin/perform_fwinstall.cgi?ipaddr=1.2.3.4&gatewayip=&b=x";
  EXPECT_EQ(Call("", query, "", false, false), 200);
  EXPECT_TRUE(server.received.startsWith("GET /" + query.toLatin1() + " HTTP/1.0\r\n"));
}

TEST_F(HttpCallTest, BodiesEncodedOrRaw) {
  EXPECT_EQ(Call("/cgi-bin/updcommit.cgi", "", "tftp=10.0.0.1&file=x", true, false), 200);
  EXPECT_EQ(server.received, "POST /cgi-bin/updcommit.cgi HTTP/1.0\r\n" + Headers() +
                                 "Content-Length: 32\r\n\r\ntftp%3d10%2e0%2e0%2e1%26file%3dx");

  ScriptedServer s;
  ScopedUi scoped(&ui);
  EXPECT_EQ(HttpCall("127.0.0.1", s.port(), "/p", "", "tftp=10.0.0.1&file=x", &body, {}, "", "",
                     true, true),
            200);
  EXPECT_TRUE(s.received.contains("\r\nAuthorization: Basic Og==\r\n"));
  EXPECT_TRUE(s.received.endsWith("Content-Length: 20\r\n\r\ntftp=10.0.0.1&file=x"));

  // The raw flag with no data is still a POST, with an empty body.
  ScriptedServer empty;
  EXPECT_EQ(HttpCall("127.0.0.1", empty.port(), "/p", "", "", &body, {}, "u", "p", true, true),
            200);
  EXPECT_TRUE(empty.received.startsWith("POST /p HTTP/1.0\r\n"));
  EXPECT_TRUE(empty.received.endsWith("Content-Length: 0\r\n\r\n"));
}

TEST_F(HttpCallTest, ErrorStatusesAreReturnedWithTheirBody) {
  server.reply = "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone";
  EXPECT_EQ(Call("", "x", "", true, false), 404);
  EXPECT_EQ(body, "gone");
  EXPECT_TRUE(ui.messageTexts().isEmpty());
}

TEST_F(HttpCallTest, NoWholeReplyMeansFailureAndTheOutputStaysUntouched) {
  struct Case {
    const char* name;
    QByteArray reply;
    bool silent;
    QStringList boxes;  // what this call alone showed
  };
  const QStringList failed{"Connection to Server Failed"};
  limits.transferTimeoutMs = 500;
  const Case cases[] = {
      {"closed without a reply", "", false, failed},
      {"silent server", "", true, failed},
      // Half a page would pass for the switch's answer.
      {"cut off after the status line", "HTTP/1.0 200 OK\r\n", false, failed},
      {"shorter than its Content-Length", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello",
       false, failed},
      // A reply came, but no status: the caller's box is the one shown.
      {"garbage", "garbage\r\n\r\n", false, {}},
      {"status that is no number", "HTTP/1.0 abc OK\r\n\r\nhello", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.reply = c.reply;
    server.silent = c.silent;
    server.answered = false;
    server.received.clear();
    body = "untouched";
    const qsizetype before = ui.messageTexts().size();
    EXPECT_EQ(Call("", "x", "", true, false), 0);
    EXPECT_EQ(body, "untouched");
    EXPECT_EQ(ui.messageTexts().mid(before), c.boxes);
  }
  // A caller that judges the outcome itself sees no box at all.
  limits.showFailure = false;
  server.reply = "HTTP/1.0 200 OK\r\n";
  server.answered = false;
  const qsizetype before = ui.messageTexts().size();
  EXPECT_EQ(Call("", "x", "", true, false), 0);
  EXPECT_EQ(ui.messageTexts().size(), before);
}

TEST_F(HttpCallTest, RefusedConnectionAndBadTargets) {
  const quint16 closed = server.port();
  server.server.close();
  ScopedUi scoped(&ui);
  EXPECT_EQ(HttpCall("127.0.0.1", closed, "", "x", "", &body, {}, "", "", true, false), 0);
  EXPECT_EQ(body, "untouched");
  // A line break in the object name never reaches the wire.
  ScriptedServer other;
  EXPECT_EQ(HttpCall("127.0.0.1", other.port(), "", "a\r\nX-Evil: 1", "", &body, {}, "", "", false,
                     false),
            0);
  EXPECT_TRUE(other.received.isEmpty());
  EXPECT_EQ(ui.messageTexts().size(), 2);
}

TEST_F(HttpCallTest, LargeBodiesAreCappedAndCredentialsCut) {
  QByteArray big(300000, 'z');
  server.reply = "HTTP/1.0 200 OK\r\nContent-Length: 300000\r\n\r\n" + big;
  limits.maxBodyBytes = 1024;
  EXPECT_EQ(Call("", "x", "", true, false, QString(300, 'u'), "p"), 200);
  EXPECT_EQ(body, big.left(1024));
  // user ":" password holds at most 253 bytes.
  EXPECT_TRUE(server.received.contains("Authorization: Basic " +
                                       Base64Encode(QByteArray(253, 'u')) + "\r\n"));
}

}  // namespace
}  // namespace fwl::test
