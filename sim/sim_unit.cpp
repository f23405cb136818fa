#include "sim/sim_unit.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>

#include "sim/sim_unit_core.h"

namespace fwl {

SimUnit::SimUnit(const SimOptions& options) : options_(options) {}

SimUnit::~SimUnit() { Stop(); }

bool SimUnit::Start(const QString& controlSocket, QString* error) {
  if (core_) return true;
  auto* core = new SimUnitCore(options_);
  if (!core->OpenPty(error)) {
    delete core;
    return false;
  }
  slavePath_ = core->SlavePath();
  core->moveToThread(&thread_);
  thread_.start();
  core_ = core;
  bool ok = true;
  QMetaObject::invokeMethod(
      core_,
      [&] {
        if (!controlSocket.isEmpty()) ok = core_->Listen(controlSocket, error);
        if (ok) core_->Begin();
      },
      Qt::BlockingQueuedConnection);
  if (!ok) Stop();
  return ok;
}

void SimUnit::Stop() {
  if (!core_) return;
  SimUnitCore* core = core_;
  QMetaObject::invokeMethod(
      core,
      [core] {
        core->End();
        core->moveToThread(QCoreApplication::instance() ? QCoreApplication::instance()->thread()
                                                        : nullptr);
      },
      Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
  delete core;
  core_ = nullptr;
  slavePath_.clear();
}

namespace {

// Runs `fn` on the unit's thread and waits for it.
template <typename Fn>
void OnUnitThread(SimUnitCore* core, Fn fn) {
  if (!core) return;
  QMetaObject::invokeMethod(core, fn, Qt::BlockingQueuedConnection);
}

}  // namespace

void SimUnit::PowerCycle() {
  OnUnitThread(core_, [this] { core_->PowerCycle(); });
}
void SimUnit::PowerOff() {
  OnUnitThread(core_, [this] { core_->PowerOff(); });
}
void SimUnit::PowerOn() {
  OnUnitThread(core_, [this] { core_->PowerOn(); });
}

QString SimUnit::State() const {
  QString s;
  OnUnitThread(core_, [&] { s = core_->HandleControl("state").section(' ', 1); });
  return s;
}

namespace {

QByteArray ReadPart(SparseMemory& m, quint64 offset, quint64 length) {
  const quint64 from = qMin(offset, m.Size());
  return m.Read(from, qMin(length, m.Size() - from));
}

// Reads what lies of the range inside one of the unit's memories, on its thread.
QByteArray ReadMemory(SimUnitCore* core, SparseMemory& (SimMemoryMap::*memory)(), quint64 offset,
                      quint64 length) {
  QByteArray r;
  OnUnitThread(core, [&] { r = ReadPart((core->Monitor().Memories().*memory)(), offset, length); });
  return r;
}

}  // namespace

QByteArray SimUnit::ReadNor(quint64 offset, quint64 length) const {
  return ReadMemory(core_, &SimMemoryMap::Nor, offset, length);
}

QByteArray SimUnit::ReadNand(quint64 offset, quint64 length) const {
  return ReadMemory(core_, &SimMemoryMap::Nand, offset, length);
}

QByteArray SimUnit::ReadNvram(quint64 offset, quint64 length) const {
  return ReadMemory(core_, &SimMemoryMap::Nvram, offset, length);
}

QByteArray SimUnit::ReadDram(quint64 address, quint64 length) const {
  QByteArray r;
  OnUnitThread(core_, [&] {
    SimMemoryMap& m = core_->Monitor().Memories();
    if (address < m.DramBase()) return;
    r = ReadPart(m.Dram(), address - m.DramBase(), length);
  });
  return r;
}

QString SimUnit::Env(const QString& name, bool saved) const {
  QString r;
  OnUnitThread(core_, [&] {
    r = saved ? core_->Monitor().SavedEnvironment().Get(name)
              : core_->Monitor().Environment().Get(name);
  });
  return r;
}

QByteArray SimUnit::EnvListing(bool saved) const {
  QByteArray r;
  OnUnitThread(core_, [&] {
    r = saved ? core_->Monitor().SavedEnvironment().Listing()
              : core_->Monitor().Environment().Listing();
  });
  return r;
}

QStringList SimUnit::CommandLog() const {
  QStringList r;
  OnUnitThread(core_, [&] { r = core_->Monitor().CommandLog(); });
  return r;
}

QString SimUnit::Control(const QString& request) {
  QString r = "error not running";
  OnUnitThread(core_, [&] { r = core_->HandleControl(request); });
  return r;
}

bool SendSimControl(const QString& socketPath, const QString& request, QString* answer,
                    int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(socketPath);
  if (!socket.waitForConnected(timeoutMs)) {
    *answer = socket.errorString();
    return false;
  }
  socket.write((request + "\n").toUtf8());
  QDeadlineTimer deadline(timeoutMs);
  while (!socket.canReadLine()) {
    if (deadline.hasExpired() ||
        !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
      *answer = "no answer from the unit";
      return false;
    }
  }
  *answer = QString::fromUtf8(socket.readLine()).trimmed();
  return true;
}

}  // namespace fwl
