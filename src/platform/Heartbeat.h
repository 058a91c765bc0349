// A sign of life from inside long waits: the platform's waits call Heartbeat() at every turn, and
// the program decides what that means (the service tells systemd's watchdog it is not hung).
// The platform itself knows nothing of systemd.
#pragma once

namespace orvex {

using HeartbeatHook = void (*)();

// Sets the function Heartbeat() calls (nullptr: none). Set once at start-up, before any wait.
void SetHeartbeatHook(HeartbeatHook hook);

// Called from every wait that may last long (socket waits, the stop wait, child processes);
// cheap when no hook is set. The hook must be cheap as well: it may be called many times a second.
void Heartbeat();

}  // namespace orvex
