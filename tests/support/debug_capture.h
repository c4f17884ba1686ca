// Captures what the debug channel writes to standard error, by routing it
// through the fallback primitives (Wine's own write straight to the unix
// descriptor, out of the program's reach) configured with a PXQ value.
#pragma once

#include <functional>
#include <string>

// Runs `action` with PXQ set to `pxq` (null: unset) and returns its output.
std::string capture_debug_output(const char *pxq, const std::function<void()> &action);

// The fallback header of a message of the calling thread, for example
// "002c:trace:printproxy:dump_fields ".
std::string debug_header(const char *class_name, const char *function_name);
