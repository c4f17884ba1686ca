// The debug primitives used where the host exports none: configured by the
// PXQ variable, written to standard error. Exposed so tests can call them
// directly even when running under Wine, whose own primitives win otherwise.
#pragma once

#include "diag/debug_channel.h"

unsigned char __cdecl fallback_get_channel_flags(DebugChannel *channel);
const char *__cdecl fallback_strdup(const char *text);
int __cdecl fallback_output(const char *text);
int __cdecl fallback_header(int cls, DebugChannel *channel, const char *function_name);

// Makes emit_debug_message and the class checks use the fallbacks even where
// the host has primitives of its own, so that tests can read the exact
// output on standard error. For tests.
void debug_use_fallback_primitives();

// Re-reads PXQ on the next query and forgets any open partial line. For tests.
void fallback_reset_configuration();
