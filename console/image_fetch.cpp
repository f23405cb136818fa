// Has the unit fetch one image into RAM: programs its network variables over
// the console and runs its "tftp" command against a TFTP server started for
// this one fetch.
#include <QHostAddress>

#include "console/reply_text.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "platform/ui.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_service.h"

namespace fwl {

namespace {

constexpr char kMsgNeedIp[] = "Need IP Address setting!";
constexpr char kMsgNeedSubnet[] = "Need Subnet Mask setting!";
constexpr char kMsgNeedServer[] = "Need TFTP Server IP Address setting!";
constexpr char kMsgUsing[] = "Using IP:%1 Subnet:%2 GatewayIP:%3 ServerIP:%4";
constexpr char kMsgGetting[] = "Getting file %1 ...";
constexpr char kMsgNoBytes[] = "Didn't find Bytes transferred in response";
constexpr char kMsgFetchFailed[] = "Failed TFTP File Transfer. Message response was:";

}  // namespace

bool LoadEngine::FetchImage(ComPort port, uint32_t ramAddress, const QString& imagePath) {
  const QString section = QString::fromLatin1(kSectionTftpParameters);
  envIpAddr = ReadLoadParameter(section, kKeyIpAddr, kTftpKeyBufferSize);
  envSubnet = ReadLoadParameter(section, kKeySubnet, kTftpKeyBufferSize);
  envGatewayIp = ReadLoadParameter(section, kKeyGatewayIp, kTftpKeyBufferSize);
  envServerIp = ReadLoadParameter(section, kKeyTftpServerIp, kTftpKeyBufferSize);

  bool complete = true;
  if (envIpAddr.isEmpty()) {
    ReportLine(QString::fromLatin1(kMsgNeedIp));
    complete = false;
  }
  if (envSubnet.isEmpty()) {
    ReportLine(QString::fromLatin1(kMsgNeedSubnet));
    complete = false;
  }
  if (envServerIp.isEmpty()) {
    ReportLine(QString::fromLatin1(kMsgNeedServer));
    complete = false;
  }
  if (!complete) return false;

  ReportLine(QString::fromLatin1(kMsgUsing).arg(envIpAddr, envSubnet, envGatewayIp, envServerIp));
  ReportLine(QString::fromLatin1(kMsgGetting).arg(imagePath));

  // The folder is served; the unit asks for the bare file name.
  const qsizetype slash = imagePath.lastIndexOf(QLatin1Char('/'));
  const QString folder = imagePath.left(slash + 1);
  const QString fileName = imagePath.mid(slash + 1);
  if (tftpService) {
    // A server shared with other loads: this unit's requests are this fetch's.
    TftpSessionRequest request;
    request.clientAddress = envIpAddr;
    request.folder = folder;
    request.preload << imagePath;
    if (progressCallback) {
      request.onStatus = [this](int, const QString& text, int) { ReportProgressText(text); };
    }
    QString error;
    tftpSession = tftpService->Open(request, &error);
    if (!tftpSession) {
      ShowMessage(TftpStartFailureMessage(error));
      return false;
    }
  } else {
    tftpServer = std::make_unique<TftpServer>();
    TftpServer& server = *tftpServer;
    server.SetListenPort(tftpListenPort);
    if (!tftpBindAddress.isEmpty()) server.SetBindAddress(QHostAddress(tftpBindAddress));
    if (progressCallback) {
      server.SetStatusCallback(
          [this](int, const QString& text, int, void*) { ReportProgressText(text); }, nullptr);
    }
    server.SetPercentOnly(1);
    server.SetOutboundFolder(folder);
    server.SetInboundFolder(folder);
    server.SetRetries(2);
    server.SetTimeout(3);
    server.PreloadFile(imagePath);
    if (server.Start() < 0) {
      ShowMessage(TftpStartFailureMessage(server));
      tftpServer.reset();
      return false;
    }
  }

  QList<QByteArray> environment;
  environment << "setenv serverip " + envServerIp.toLatin1() + '\r';
  environment << (envGatewayIp.isEmpty() ? QByteArray("setenv gatewayip\r")
                                         : "setenv gatewayip " + envGatewayIp.toLatin1() + '\r');
  environment << "setenv netmask " + envSubnet.toLatin1() + '\r';
  environment << "setenv ipaddr " + envIpAddr.toLatin1() + '\r';
  environment << QByteArray(dhcp ? "setenv use_dhcp 1\r" : "setenv use_dhcp 0\r");
  environment << QByteArray("setenv use_net_settings 1\r");
  environment << QByteArray("setenv cfgPHYdelay 200\r");
  environment << QByteArray("saveenv\r") << QByteArray("saveenv\r");

  bool ok = true;
  for (const QByteArray& line : environment) {
    QByteArray reply;
    bool promptSeen = false;
    if (!SendAndCollect(port, line, kPromptText, timings.environmentMs, reply, promptSeen) ||
        !promptSeen) {
      ok = false;
      break;
    }
  }

  if (ok) {
    const QByteArray command =
        "tftp " + QByteArray::number(ramAddress, 16) + ' ' + fileName.toLatin1() + '\r';
    QByteArray reply;
    bool promptSeen = false;
    SendAndCollect(port, command, kPromptText, timings.tftpFetchMs, reply, promptSeen);
    if (promptSeen) {
      ok = ReplyText(reply).toLower().contains("bytes transferred");
      if (!ok) ReportLine(QString::fromLatin1(kMsgNoBytes));
    } else {
      ok = false;
    }
    if (!ok) {
      ReportFailure(QString::fromLatin1(kMsgFetchFailed), reply);
      // Stop a transfer the boot monitor may still be running.
      WritePort(port, QByteArray(1, '\x03'));
      WaitPumping(100);
      FlushInput(port);
    }
  }

  if (tftpServer) tftpServer->Stop();
  tftpServer.reset();
  tftpSession.reset();
  return ok;
}

}  // namespace fwl
