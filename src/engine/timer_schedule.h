#pragma once
// The client's timers, defined once for both platforms. The first four are the
// main window's: Reconnect (first tick 10 s after start; it follows the
// engine's enabled state, and turning it on again starts a full interval),
// CheckChanges (the first watcher attempt 5 s after start), ErrorHandling and
// Timer1. StatusTimer is the client's own tick: it publishes the engine's
// status and keeps the list of known files.
namespace kq::timers {

inline constexpr int kReconnectMs = 10000;
inline constexpr int kCheckChangesMs = 5000;
inline constexpr int kErrorHandlingMs = 100;
inline constexpr int kTimer1Ms = 50;
inline constexpr int kStatusMs = 1000;

}  // namespace kq::timers
