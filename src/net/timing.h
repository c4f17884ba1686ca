// Periods of the transport. The defaults are the protocol's; tests shorten
// them so that no test waits out a real 30 s timeout.
#pragma once

#include <atomic>

// Silence after which a reception fails with status 19.
extern std::atomic<int> receive_timeout_ms;
// Time between heartbeats.
extern std::atomic<int> heartbeat_period_ms;
// How long a stopping send thread may go on sending what is queued before
// the rest is dropped and the connection is shut down under it.
extern std::atomic<int> send_drain_grace_ms;
