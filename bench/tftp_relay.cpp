// The impairment relay of the tests as a program, for bench/tftp_lossy.sh:
// stands on 127.0.0.1 in front of a TFTP server and drops, delays,
// duplicates and reorders datagrams from a seed, until SIGINT or SIGTERM;
// then prints what crossed it.
//   bench_tftp_relay --server-port N --listen-port M [--loss P] [--dup P]
//                    [--delay-us D] [--jitter-us J] [--seed S] [--trace FILE]
// P are chances per datagram and direction (0.01 = 1 %), D the one-way
// delay, J the extra delay drawn from 0..J (reordering). --trace writes one
// line per DATA or ACK: microseconds, direction (> to the client, < to the
// server), opcode, block and the copies that went on.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/udp_impairment_relay.h"

int main(int argc, char** argv) {
  int serverPort = 0;
  int listenPort = 0;
  fwl::sim::Impairment impairment;
  unsigned long long seed = 1;
  std::string trace;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--server-port") serverPort = std::atoi(value);
    if (name == "--listen-port") listenPort = std::atoi(value);
    if (name == "--loss") impairment.loss = std::atof(value);
    if (name == "--dup") impairment.duplicate = std::atof(value);
    if (name == "--delay-us") impairment.delayUs = std::atoll(value);
    if (name == "--jitter-us") impairment.jitterUs = std::atoll(value);
    if (name == "--seed") seed = std::strtoull(value, nullptr, 10);
    if (name == "--trace") trace = value;
  }
  if (serverPort <= 0 || serverPort > 65535 || listenPort < 0 || listenPort > 65535) {
    std::fprintf(stderr,
                 "usage: %s --server-port N --listen-port M [--loss P] [--dup P] "
                 "[--delay-us D] [--jitter-us J] [--seed S]\n",
                 argv[0]);
    return 2;
  }
  // The signals are taken by sigwait below, not by a handler.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  fwl::sim::UdpImpairmentRelay relay;
  relay.SetImpairment(fwl::sim::RelayDirection::kToServer, impairment);
  relay.SetImpairment(fwl::sim::RelayDirection::kToClient, impairment);
  relay.SetSeed(seed);
  FILE* traceFile = trace.empty() ? nullptr : std::fopen(trace.c_str(), "w");
  if (traceFile) {
    relay.SetObserver([traceFile](const fwl::sim::RelayDatagram& d,
                                  const fwl::sim::RelayVerdict& v, int64_t nowNs) {
      if (d.opcode != 3 && d.opcode != 4) return;
      std::fprintf(traceFile, "%lld %c %d %d %d\n", static_cast<long long>(nowNs / 1000),
                   d.direction == fwl::sim::RelayDirection::kToClient ? '>' : '<', d.opcode,
                   d.block, v.copies);
    });
  }
  if (!relay.Start(static_cast<uint16_t>(serverPort), static_cast<uint16_t>(listenPort))) {
    std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", listenPort);
    return 1;
  }
  std::printf("listening %u\n", relay.Port());
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  relay.Stop();
  const fwl::sim::RelayCounts counts = relay.Counts();
  std::printf(
      "data_from_server %lld\ndata_unneeded %lld\nacks_from_client %lld\ndropped %lld\n"
      "duplicated %lld\nmost_copies %d\n",
      static_cast<long long>(counts.dataFromServer), static_cast<long long>(counts.dataUnneeded),
      static_cast<long long>(counts.acksFromClient),
      static_cast<long long>(counts.dropped), static_cast<long long>(counts.duplicated),
      counts.MostCopies());
  if (traceFile) std::fclose(traceFile);
  return 0;
}
