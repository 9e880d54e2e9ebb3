#pragma once
// Socket failures are reported with Windows Sockets error numbers on every
// platform, so that log lines read the same ("Client socket error! Code: 10061").
namespace kq {

constexpr int kWsaConnectionRefused = 10061;
constexpr int kWsaConnectionReset = 10054;
constexpr int kWsaTimedOut = 10060;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaSystemCallFailure = 10107;

// wsaErrorFromErrno maps an errno value of a socket call to its Windows Sockets number.
int wsaErrorFromErrno(int error);
// wsaErrorFromLookup maps a getaddrinfo() result to its Windows Sockets number.
int wsaErrorFromLookup(int gaiError, int savedErrno);

}  // namespace kq
