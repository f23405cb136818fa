// The test's end of the simulated unit's serial line: the pty slave opened
// raw, with reads that wait for an expected text while the test thread's
// event loop keeps running (for loopback servers the test runs itself).
#pragma once

#include <QByteArray>
#include <QString>

namespace fwl::test {

class SimTerminal {
 public:
  SimTerminal() = default;
  ~SimTerminal() { Close(); }
  bool Open(const QString& path);
  void Close();
  bool Send(const QByteArray& bytes);
  // Reads until `text` has arrived (true) or `ms` have passed (false).
  // Everything read is kept; Take() hands it over and starts afresh.
  bool WaitFor(const QByteArray& text, int ms = 5000);
  // Reads for `ms` and returns what was read in that time.
  QByteArray ReadFor(int ms);
  // Sends a command line with CR and waits for the prompt that follows its
  // reply; returns the reply (echo included), or empty on time-out.
  QByteArray Command(const QByteArray& line, int ms = 5000);
  QByteArray Take();
  const QByteArray& Seen() const { return seen_; }

 private:
  void ReadSome(int ms);
  int fd_ = -1;
  QByteArray seen_;
};

}  // namespace fwl::test
