#include "transfer/receive_state.h"

namespace kq {

ReceiveMode nextMode(ReceiveMode mode, ReceiveEvent event) {
  using M = ReceiveMode;
  using E = ReceiveEvent;
  if (event == E::ConnectionClosed) return M::Idle;
  switch (mode) {
    case M::Idle:
      if (event == E::FileRefused) return M::Refusing;
      if (event == E::Header) return M::Receiving;
      return M::Idle;
    case M::Refusing:
      // A later accepted RQPUT does not lift the refusal: the next RQFDA is the one dropped.
      if (event == E::Header) return M::Dropping;
      return M::Refusing;
    case M::Receiving:
    case M::Dropping:
      // In data mode every read is data; only the count ends it.
      if (event == E::LastByte) return M::Idle;
      return mode;
  }
  return mode;
}

const char* modeName(ReceiveMode mode) {
  switch (mode) {
    case ReceiveMode::Idle: return "Idle";
    case ReceiveMode::Refusing: return "Refusing";
    case ReceiveMode::Receiving: return "Receiving";
    case ReceiveMode::Dropping: return "Dropping";
  }
  return "?";
}

}  // namespace kq
