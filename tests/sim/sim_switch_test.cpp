// The simulated switch's web side: its request parser against broken and
// hostile input, Basic authentication, and the pages as a raw client sees
// them (the loader's own requests are covered by the switch tests).
#include "sim/sim_switch.h"

#include <gtest/gtest.h>

#include <QTcpSocket>

#include "platform/wait_pumping.h"
#include "sim/sim_http_request.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

TEST(SimHttpParser, CollectsARequestArrivingInPieces) {
  SimHttpParser parser;
  EXPECT_EQ(parser.Feed("POST /a%2fb?x=1 HTTP/1.0\r\nContent-Le"), SimHttpParser::kIncomplete);
  EXPECT_EQ(parser.Feed("ngth: 5\r\nX: y\r\n\r\nab"), SimHttpParser::kIncomplete);
  EXPECT_EQ(parser.Feed("cde"), SimHttpParser::kComplete);
  EXPECT_EQ(parser.request().method, "POST");
  EXPECT_EQ(parser.request().target, "/a%2fb?x=1");
  EXPECT_EQ(parser.request().body, "abcde");
  EXPECT_EQ(parser.request().Header("content-length"), "5");
  EXPECT_EQ(parser.request().raw.size(), parser.request().raw.indexOf("\r\n\r\n") + 4 + 5);
}

TEST(SimHttpParser, RefusesBrokenAndOversizedRequests) {
  EXPECT_EQ(SimHttpParser().Feed("GARBAGE\r\n\r\n"), SimHttpParser::kBad);
  EXPECT_EQ(SimHttpParser().Feed("GET / HTTP/1.0\r\nno colon\r\n\r\n"), SimHttpParser::kBad);
  EXPECT_EQ(SimHttpParser().Feed("GET / HTTP/1.0\r\nContent-Length: -1\r\n\r\n"),
            SimHttpParser::kBad);
  EXPECT_EQ(SimHttpParser().Feed("GET / HTTP/1.0\r\nContent-Length: 99999999999\r\n\r\n"),
            SimHttpParser::kTooLarge);
  EXPECT_EQ(SimHttpParser().Feed(QByteArray(kSimHttpMaxHeaderBytes + 1, 'a')),
            SimHttpParser::kTooLarge);
}

TEST(SimHttpParser, DecodesPathsAndForms) {
  EXPECT_EQ(SimPercentDecode("%2fcgi%2dbin+x%zz%4", false), "/cgi-bin+x%zz%4");
  EXPECT_EQ(SimPercentDecode("a+b%3d", true), "a b=");
  const auto form = SimParseForm("tftp=127.0.0.1&file=switchinfo.tgz&&flag&gatewayip=");
  ASSERT_EQ(form.size(), 4);
  EXPECT_EQ(form[0].second, "127.0.0.1");
  EXPECT_EQ(form[2].first, "flag");
  EXPECT_EQ(form[3].second, "");
}

// One raw exchange with the switch.
QByteArray Exchange(quint16 port, const QByteArray& request) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
  if (!WaitPumpingUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 3000)) {
    return {};
  }
  socket.write(request);
  QByteArray reply;
  WaitPumpingUntil(
      [&] {
        reply += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
      },
      3000);
  return reply + socket.readAll();
}

TEST(SimSwitch, AuthenticatesAndServesItsPages) {
  SimSwitchOptions o;
  o.httpPort = FreeTcpPort();
  o.user = "admin";
  o.password = "pw";
  o.boardId = SimSwitchBoardId("855t");
  SimSwitch sw(o);
  QString error;
  ASSERT_TRUE(sw.Start(&error)) << error.toStdString();
  const QByteArray auth = "Authorization: Basic YWRtaW46cHc=\r\n";  // admin:pw

  EXPECT_TRUE(Exchange(o.httpPort, "GET /cgi-bin/rmtconf.cgi HTTP/1.0\r\n\r\n")
                  .startsWith("HTTP/1.0 401 "));
  EXPECT_TRUE(Exchange(o.httpPort,
                       "GET /cgi-bin/rmtconf.cgi HTTP/1.0\r\n"
                       "Authorization: Basic YWRtaW46eA==\r\n\r\n")
                  .startsWith("HTTP/1.0 401 "));
  const QByteArray page =
      Exchange(o.httpPort, "GET /cgi%2dbin%2frmtconf%2ecgi HTTP/1.0\r\n" + auth + "\r\n");
  EXPECT_TRUE(page.startsWith("HTTP/1.0 200 "));
  EXPECT_TRUE(page.contains("<option value='network' selected>Enabled</option>"));
  // The information page exists only once the package is installed.
  EXPECT_TRUE(Exchange(o.httpPort, "GET /%2fcgi%2dbin%2fgetinfo%2ecgi HTTP/1.0\r\n" + auth + "\r\n")
                  .startsWith("HTTP/1.0 404 "));
  EXPECT_TRUE(Exchange(o.httpPort, "GET /nothing HTTP/1.0\r\n" + auth + "\r\n")
                  .startsWith("HTTP/1.0 404 "));
  EXPECT_TRUE(Exchange(o.httpPort, "GET / HTTP/1.0\r\nContent-Length: 100000000\r\n\r\n")
                  .startsWith("HTTP/1.0 413 "));
  // An update request naming a server off loopback is answered, and nothing
  // is ever fetched from it.
  const QByteArray form = "tftp=10.1.2.3&file=switchinfo.tgz";
  EXPECT_TRUE(Exchange(o.httpPort, "POST /cgi-bin/updcommit.cgi HTTP/1.0\r\n" + auth +
                                       "Content-Length: " + QByteArray::number(form.size()) +
                                       "\r\n\r\n" + form)
                  .startsWith("HTTP/1.0 200 "));
  WaitPumping(200);
  EXPECT_FALSE(sw.InfoInstalled());
  EXPECT_EQ(sw.StateJson()["boardId"].toString(), "kvni855t");

  sw.options().infoInstalled = true;
  SimSwitch identified(sw.options());
  sw.Stop();
  ASSERT_TRUE(identified.Start(&error));
  const QByteArray info =
      Exchange(o.httpPort, "GET /%2fcgi%2dbin%2fgetinfo%2ecgi HTTP/1.0\r\n" + auth + "\r\n");
  EXPECT_TRUE(info.endsWith("\r\n\r\nkvid=mums&boardId=kvni855t&fwRev=3.7.2&uboot=1.1.4\n"))
      << info.toStdString();
}

}  // namespace
}  // namespace fwl::test
