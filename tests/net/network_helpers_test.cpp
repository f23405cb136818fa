// The local network helpers: the routing-table reader behind the adapter
// list, the adapter list itself, the ICMP echo (a reply from loopback and a
// time-out inside a network namespace that drops echo replies) and the ARP
// entry removal.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include "net/arp_entry.h"
#include "net/icmp_echo.h"
#include "net/network_adapters.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

TEST(NetworkAdapters, DefaultGatewaysFromTheRoutingTable) {
  const QByteArray table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
      "eth0\t00000000\t0201A8C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
      "wlan0\t00000000\t01000A0A\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "broken line\n"
      "tun0\t00000000\tZZZZ\t0003\t0\t0\t0\t00000000\n";
  const auto gateways = DefaultGatewaysFromRouteTable(table);
  ASSERT_EQ(gateways.size(), 2);
  EXPECT_EQ(gateways[0], qMakePair(QString("eth0"), QString("192.168.1.1")));
  EXPECT_EQ(gateways[1], qMakePair(QString("wlan0"), QString("10.10.0.1")));
  EXPECT_TRUE(DefaultGatewaysFromRouteTable("").isEmpty());
}

TEST(NetworkAdapters, LoopbackOnlyWhenAskedAndNeverTheNullAddress) {
  bool sawLoopback = false;
  for (const AdapterAddress& a : LocalAdapterAddresses(true)) {
    EXPECT_NE(a.ip, "0.0.0.0");
    EXPECT_FALSE(a.gateway.isEmpty());
    if (a.ip == "127.0.0.1") {
      sawLoopback = true;
      EXPECT_EQ(a.mask, "255.0.0.0");
    }
  }
  EXPECT_TRUE(sawLoopback);
  for (const AdapterAddress& a : LocalAdapterAddresses()) EXPECT_NE(a.ip, "127.0.0.1");
}

bool EchoSocketsAllowed() {
  static const bool allowed = IcmpEcho("127.0.0.1", 10, 1000);
  return allowed;
}

TEST(IcmpEcho, LoopbackAnswers) {
  if (!EchoSocketsAllowed()) GTEST_SKIP() << "no ICMP socket allowed for this user";
  EXPECT_TRUE(IcmpEcho("127.0.0.1", 10, 2000, 32));
  EXPECT_TRUE(IcmpEcho("127.0.0.1", 1, 2000, 0));
  EXPECT_TRUE(IcmpEcho("127.0.0.1", 64, 2000, 5000));  // data capped, still answered
  EXPECT_FALSE(IcmpEcho("localhost.invalid", 10, 100));
  EXPECT_FALSE(IcmpEcho("::1", 10, 100));
}

// Runs `script` inside a new network namespace (and user namespace, so no
// root is needed where the kernel allows it). Returns false when namespaces
// cannot be made here.
bool RunInNamespace(const QString& script, int* exitCode, QString* output, qint64* elapsedMs) {
  const QString unshare = QStandardPaths::findExecutable("unshare");
  if (unshare.isEmpty()) return false;
  QProcess probe;
  probe.start(unshare, {"-rn", "true"});
  if (!probe.waitForFinished(10000) || probe.exitCode() != 0) return false;
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  QElapsedTimer clock;
  clock.start();
  p.start(unshare, {"-rn", "sh", "-c", script});
  if (!p.waitForFinished(30000)) return false;
  *elapsedMs = clock.elapsed();
  *exitCode = p.exitCode();
  *output = QString::fromLocal8Bit(p.readAll());
  return true;
}

TEST(IcmpEcho, TimesOutWhenNoReplyComes) {
  const QString fwload = FwloadPath();
  // Inside the namespace only its own loopback exists. First it answers;
  // then it is told to ignore echo requests, so a request goes out and no
  // reply ever comes back.
  const QString ping = "'" + fwload + "' ping 127.0.0.1 --timeout-ms ";
  int exitCode = -1;
  QString output;
  qint64 elapsed = 0;
  if (!RunInNamespace("ip link set lo up && " + ping + "2000", &exitCode, &output, &elapsed)) {
    GTEST_SKIP() << "network namespaces are not permitted here";
  }
  if (exitCode != 0) GTEST_SKIP() << "no ICMP socket in the namespace: " << output.toStdString();
  EXPECT_TRUE(output.contains("reply from 127.0.0.1")) << output.toStdString();

  ASSERT_TRUE(RunInNamespace(
      "ip link set lo up && echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all && " + ping + "700",
      &exitCode, &output, &elapsed));
  EXPECT_EQ(exitCode, 1) << output.toStdString();
  EXPECT_TRUE(output.contains("no reply from 127.0.0.1")) << output.toStdString();
  EXPECT_GE(elapsed, 700);
}

TEST(ArpEntry, OnlyACommandThatCannotStartIsAnError) {
  // Removing a loopback neighbour entry changes nothing, allowed or not.
  EXPECT_TRUE(RemoveArpEntry("127.0.0.1"));
  EXPECT_FALSE(RemoveArpEntry("not an address"));
  EXPECT_FALSE(RemoveArpEntry("127.0.0.1; rm -rf /"));
}

}  // namespace
}  // namespace fwl::test
