#pragma once
// The receive path as one state machine. The mode says what the next bytes from
// the server are; the receiver moves it only through nextMode and mirrors it
// into the dispatcher's fileDataMode (true in Receiving and Dropping).
//
//   Idle       between pushes: reads are packets
//   Refusing   a refused RQPUT: the next RQFDA is answered at once and not written
//   Receiving  RQFDA data goes into the temporary file, counted up to the announced size
//   Dropping   the data of a refused RQFDA is dropped, counted up to its announced size
namespace kq {

enum class ReceiveMode { Idle, Refusing, Receiving, Dropping };

enum class ReceiveEvent {
  FileAccepted,      // an RQPUT names a file the client will write
  FileRefused,       // an RQPUT names a file the client refuses (excluded, bad path)
  Header,            // an RQFDA header
  LastByte,          // the announced count of data bytes is reached
  ConnectionClosed,  // the server connection ended
};

// nextMode is the mode after event. Events that do not belong to a mode (data
// complete while Idle, say) leave it unchanged.
ReceiveMode nextMode(ReceiveMode mode, ReceiveEvent event);

// inDataMode tells whether reads in mode are file data rather than packets.
constexpr bool inDataMode(ReceiveMode mode) {
  return mode == ReceiveMode::Receiving || mode == ReceiveMode::Dropping;
}

const char* modeName(ReceiveMode mode);

}  // namespace kq
