// Fallback debug primitives: PXQ configuration, a ring of kept strings, and
// line headers that are written once per output line, also when a line is
// assembled from several messages of one thread.
#include "diag/debug_fallback.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "diag/pxq_options.h"

namespace {

PxqConfig pxq_config = {-1, PXQ_DEFAULT_FLAGS, 0, nullptr};

constexpr int RING_SLOTS = 32;
std::atomic<char *> kept_strings[RING_SLOTS];
std::atomic<unsigned> kept_counter{0};

// Thread whose last message left its line open, or 0.
std::atomic<DWORD> partial_line_thread{0};

DebugChannel timestamp_channel = {0xFF, "timestamp"};
DebugChannel pid_channel = {0xFF, "pid"};

bool trace_on(DebugChannel *channel) {
    return (channel->flags & (1 << DBG_TRACE)) &&
           (fallback_get_channel_flags(channel) & (1 << DBG_TRACE));
}

int write_stderr(const char *text, size_t length) {
    size_t written = fwrite(text, 1, length, stderr);
    fflush(stderr);
    return static_cast<int>(written);
}

} // namespace

unsigned char __cdecl fallback_get_channel_flags(DebugChannel *channel) {
    if (pxq_config.count == -1)
        pxq_parse(&pxq_config, getenv("PXQ"));
    if (const PxqOption *option = pxq_find(&pxq_config, channel->name))
        return option->flags;
    if (channel->flags & DEBUG_FLAGS_UNRESOLVED)
        channel->flags = pxq_config.default_flags;
    return pxq_config.default_flags;
}

const char *__cdecl fallback_strdup(const char *text) {
    char *copy = strdup(text);
    unsigned slot = kept_counter.fetch_add(1) & (RING_SLOTS - 1);
    free(kept_strings[slot].exchange(copy));
    return copy;
}

int __cdecl fallback_output(const char *text) {
    size_t length = strlen(text);
    if (!length)
        return 0;
    partial_line_thread.exchange(text[length - 1] == '\n' ? 0 : GetCurrentThreadId());
    return write_stderr(text, length);
}

int __cdecl fallback_header(int cls, DebugChannel *channel, const char *function_name) {
    if (!(fallback_get_channel_flags(channel) & (1 << cls)))
        return -1;
    if (partial_line_thread.load() == GetCurrentThreadId())
        return 0;
    char header[200];
    int length = 0;
    if (trace_on(&timestamp_channel)) {
        DWORD ticks = GetTickCount();
        length += snprintf(header + length, sizeof(header) - length,
                           "%3u.%03u:", static_cast<unsigned>(ticks / 1000),
                           static_cast<unsigned>(ticks % 1000));
    }
    if (trace_on(&pid_channel))
        length += snprintf(header + length, sizeof(header) - length,
                           "%04x:", static_cast<unsigned>(GetCurrentProcessId()));
    length += snprintf(header + length, sizeof(header) - length,
                       "%04x:", static_cast<unsigned>(GetCurrentThreadId()));
    if (function_name && cls >= 0 && cls < int(std::size(CLASS_NAMES)))
        length += snprintf(header + length, sizeof(header) - length, "%s:%s:%s ", CLASS_NAMES[cls],
                           channel->name, function_name);
    if (length >= static_cast<int>(sizeof(header)))
        length = sizeof(header) - 1;
    return write_stderr(header, length);
}

void fallback_reset_configuration() {
    pxq_config.count = -1;
    pxq_config.default_flags = PXQ_DEFAULT_FLAGS;
    timestamp_channel.flags = 0xFF;
    pid_channel.flags = 0xFF;
    partial_line_thread.store(0);
}
