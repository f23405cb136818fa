// Shared fixture of the TFTP tests: a server on 127.0.0.1 serving a
// temporary folder, with every event, status text and log line recorded,
// and real TFTP clients run as processes while the server's thread keeps
// pumping its events.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "platform/wait_pumping.h"
#include "support/test_util.h"
#include "tftp/tftp_server.h"

namespace fwl::test {

struct ClientRun {
  int exitCode = -1;
  bool finished = false;
  QByteArray output;  // stdout + stderr
};

class TftpFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path() + "/";
    server_ = std::make_unique<TftpServer>();
    port_ = FreeUdpPort();
    server_->SetBindAddress(QHostAddress::LocalHost);
    server_->SetListenPort(port_);
    server_->SetOutboundFolder(root_);
    server_->SetInboundFolder(root_);
    server_->SetRetries(2);
    server_->SetRetransmitInterval(300);
    server_->SetEventCallback([this](const TftpEvent& e, void*) { events_.push_back(e); }, nullptr);
    server_->SetStatusCallback(
        [this](int id, const QString& text, int flag, void*) {
          if (flag == kTftpStatusComplete) {
            completions_ << QString("%1:%2").arg(id).arg(text);
          } else {
            ++progressCount_;
            progress_ << QString("%1:%2").arg(id).arg(text);
          }
        },
        nullptr);
    server_->SetLogCallback([this](const QString& line) { log_ << line; });
  }

  void TearDown() override {
    if (server_) server_->Stop();
  }

  void StartServer() { ASSERT_EQ(server_->Start(), 0) << log_.join("\n").toStdString(); }

  QString Put(const QString& name, const QByteArray& data) {
    WriteFileOrFail(root_ + name, data);
    return root_ + name;
  }

  // Runs a program to its end while this thread keeps serving.
  ClientRun Run(const QString& program, const QStringList& args, int timeoutMs = 30000) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(dir_.path());
    process.start(program, args);
    ClientRun run;
    if (!process.waitForStarted(5000)) return run;
    WaitPumpingUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs, 5);
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(2000);
      run.output = process.readAll();
      return run;
    }
    run.finished = true;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAll();
    return run;
  }

  // Fetches `remote` with one of "curl", "tftp-hpa", "atftp", "busybox" into
  // `local`. `blksize` 0 sends no block-size option (where the client lets
  // itself be told), -1 no options at all (curl); `window` > 1 asks atftp
  // for a window. `via` sends the request to another port (a wire tap)
  // instead of the server's.
  ClientRun Fetch(const QString& client, const QString& remote, const QString& local,
                  int blksize = 0, int window = 0, quint16 via = 0) {
    const QString host = "127.0.0.1";
    const QString port = QString::number(via ? via : port_);
    QStringList args;
    if (client == "curl") {
      args << "-s"
           << "-S"
           << "--max-time"
           << "60";
      if (blksize > 0) args << "--tftp-blksize" << QString::number(blksize);
      if (blksize < 0) args << "--tftp-no-options";
      args << "-o" << local << QString("tftp://%1:%2/%3").arg(host, port, remote);
      return Run("curl", args);
    }
    if (client == "tftp-hpa") {
      args << "-m"
           << "binary" << host << port << "-c"
           << "get" << remote << local;
      return Run("tftp", args);
    }
    if (client == "atftp") {
      args << "-g"
           << "-r" << remote << "-l" << local;
      if (blksize > 0) args << "--option" << QString("blksize %1").arg(blksize);
      if (window > 0) args << "--option" << QString("windowsize %1").arg(window);
      args << host << port;
      return Run("atftp", args);
    }
    args << "tftp"
         << "-g"
         << "-r" << remote << "-l" << local;
    if (blksize > 0) args << "-b" << QString::number(blksize);
    args << host << port;
    return Run("busybox", args);
  }

  int CountEvents(int kind) const {
    int n = 0;
    for (const TftpEvent& e : events_) n += e.kind == kind ? 1 : 0;
    return n;
  }

  bool LogHas(const QString& fragment) const {
    for (const QString& line : log_) {
      if (line.contains(fragment)) return true;
    }
    return false;
  }

  QTemporaryDir dir_;
  QString root_;
  quint16 port_ = 0;
  std::unique_ptr<TftpServer> server_;
  std::vector<TftpEvent> events_;
  QStringList completions_;
  int progressCount_ = 0;
  QStringList progress_;  // "id:text" of every progress text
  QStringList log_;
};

}  // namespace fwl::test
