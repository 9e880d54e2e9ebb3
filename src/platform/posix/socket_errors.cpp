#include "platform/posix/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace kq {

int wsaErrorFromErrno(int error) {
  switch (error) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case EOPNOTSUPP: return 10045;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return kWsaConnectionReset;
    case EPIPE: return kWsaConnectionReset;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return kWsaTimedOut;
    case ECONNREFUSED: return kWsaConnectionRefused;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return kWsaSystemCallFailure;
  }
}

int wsaErrorFromLookup(int gaiError, int savedErrno) {
  switch (gaiError) {
    case EAI_NONAME: return kWsaHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA: return 11004;
#endif
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
    case EAI_FAMILY: return 10047;
    case EAI_MEMORY: return 8;  // WSA_NOT_ENOUGH_MEMORY
    case EAI_SERVICE: return 10109;
    case EAI_SOCKTYPE: return 10044;
    case EAI_SYSTEM: return wsaErrorFromErrno(savedErrno);
    default: return kWsaHostNotFound;
  }
}

}  // namespace kq
