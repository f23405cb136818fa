#include "monitor_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "engine/load_parameter_file.h"
#include "platform/ini_file.h"

namespace fwl::test {

MonitorPeer::MonitorPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return;
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    ::close(master_);
    master_ = -1;
    return;
  }
  path_ = QString::fromLocal8Bit(ptsname(master_));
  slaveKeeper_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
  if (slaveKeeper_ >= 0) {
    termios tio{};
    tcgetattr(slaveKeeper_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slaveKeeper_, TCSANOW, &tio);
  }
  termios mt{};
  tcgetattr(master_, &mt);
  cfmakeraw(&mt);
  tcsetattr(master_, TCSANOW, &mt);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

MonitorPeer::~MonitorPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  if (master_ >= 0) ::close(master_);
}

void MonitorPeer::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

void MonitorPeer::AnswerAll(const QByteArray& reply) {
  SetResponder([reply](const QByteArray&) { return reply + "=> "; });
}

void MonitorPeer::Send(const QByteArray& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  outgoing_ += bytes;
}

void MonitorPeer::WriteSome() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (outgoing_.isEmpty()) return;
  const ssize_t n = ::write(master_, outgoing_.constData(), outgoing_.size());
  if (n > 0) outgoing_.remove(0, n);
}

QByteArray MonitorPeer::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

QList<QByteArray> MonitorPeer::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void MonitorPeer::ClearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
  lines_.clear();
}

void MonitorPeer::Unplug() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  slaveKeeper_ = -1;
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void MonitorPeer::Run() {
  QByteArray line;
  while (!stop_) {
    bool pendingOut;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pendingOut = !outgoing_.isEmpty();
    }
    pollfd p{master_, static_cast<short>(POLLIN | (pendingOut ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, 5) <= 0) continue;
    if (p.revents & POLLOUT) WriteSome();
    if (!(p.revents & POLLIN)) {
      if (p.revents & (POLLHUP | POLLERR)) usleep(5000);
      continue;
    }
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) {
      usleep(5000);
      continue;
    }
    QByteArray echo;
    QList<QByteArray> complete;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.append(buf, n);
    }
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buf[i];
      if (c == '\r') {
        echo += "\r\n";
        complete << line;
        line.clear();
      } else if (c == '\x03') {
        complete << QByteArray(1, c);
        line.clear();
      } else {
        echo += c;
        line += c;
      }
    }
    if (echo_) Send(echo);
    for (const QByteArray& l : complete) {
      Responder responder;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_ << l;
        responder = responder_;
      }
      if (responder) Send(responder(l));
    }
  }
}

void WriteDeviceSettings(const QString& path) {
  const QString file = LoadParameterFilePath();
  WritePrivateProfileString("Device", "Comport", path, file);
  WritePrivateProfileString("Device", "Parity", "None", file);
  WritePrivateProfileString("Device", "Baud", "9600", file);
  WritePrivateProfileString("Device", "Stopbits", "1", file);
  WritePrivateProfileString("Device", "Databits", "8", file);
}

}  // namespace fwl::test
