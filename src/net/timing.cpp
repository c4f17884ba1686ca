#include "net/timing.h"

std::atomic<int> receive_timeout_ms{30000};
std::atomic<int> heartbeat_period_ms{30000};
std::atomic<int> send_drain_grace_ms{2000};
