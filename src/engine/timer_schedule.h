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

// kServerSilenceMs: a connected server that has sent nothing for this long,
// while the client is not busy answering it, is taken for a dead link (a path
// gone dark drops bytes without a FIN or RST). kqsyncd starts a cycle every
// few seconds and waits 30 s for an answer, so a live server is never this quiet.
// The Reconnect tick checks it, so the link is closed within one more tick.
inline constexpr int kServerSilenceMs = 60000;
// TCP keep-alive on the server link: the first probe after this much idle
// time, then one every kKeepAliveIntervalS, the link dropped after
// kKeepAliveProbes unanswered ones (Windows sends its own fixed count).
inline constexpr int kKeepAliveIdleS = 30;
inline constexpr int kKeepAliveIntervalS = 10;
inline constexpr int kKeepAliveProbes = 3;

}  // namespace kq::timers
