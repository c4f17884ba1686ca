// The "printproxy" debug channel: four message classes, switched per channel
// at run time. The primitives come from the host's ntdll when it exports
// them (Wine does, and then WINEDEBUG controls the channel); otherwise the
// fallbacks of debug_fallback.h serve, configured by PXQ.
#pragma once

enum DebugClass { DBG_FIXME = 0, DBG_ERR = 1, DBG_WARN = 2, DBG_TRACE = 3 };

// Layout shared with the host's primitives: flags, then the NUL-terminated
// name. Flags start at 0xFF: every class on and bit 7 set (not yet resolved),
// so the first message of each class asks the primitive.
struct DebugChannel {
    unsigned char flags;
    char name[15];
};

constexpr unsigned char DEBUG_FLAGS_UNRESOLVED = 0x80;

// The channel record of the printer-configuration code and the page-file
// reader, and the one of everything else. Both are named "printproxy".
extern DebugChannel dbch_printer;
extern DebugChannel dbch_printproxy;

unsigned char debug_get_channel_flags(DebugChannel *channel);

inline bool debug_class_on(DebugChannel *channel, int cls) {
    return (channel->flags & (1 << cls)) && (debug_get_channel_flags(channel) & (1 << cls));
}

// Header, then the formatted text (cut at 1023 bytes). A format starting
// with byte 0x01 omits the function name. Returns the characters written,
// or -1 when the class is off.
int emit_debug_message(int cls, DebugChannel *channel, const char *function_name,
                       const char *format, ...) __attribute__((format(printf, 4, 5)));

// Formats into a short-lived string kept by the strdup primitive.
const char *debug_sprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Quoted renderings for log messages; "(null)", "#%04x" for integer ids,
// "(invalid)" for unreadable pointers. The result lives in the strdup ring.
const char *quote_ansi_string(const char *s);
const char *quote_wide_string(const wchar_t *s);

// Call sites test the class first, so arguments are only evaluated when the
// message will be printed.
#define DEBUG_MESSAGE(cls, channel, function_name, ...)                                            \
    do {                                                                                           \
        if (debug_class_on(&(channel), cls))                                                       \
            emit_debug_message(cls, &(channel), function_name, __VA_ARGS__);                       \
    } while (0)

#define FIXME_ON(channel, fn, ...) DEBUG_MESSAGE(DBG_FIXME, channel, fn, __VA_ARGS__)
#define ERR_ON(channel, fn, ...) DEBUG_MESSAGE(DBG_ERR, channel, fn, __VA_ARGS__)
#define WARN_ON(channel, fn, ...) DEBUG_MESSAGE(DBG_WARN, channel, fn, __VA_ARGS__)
#define TRACE_ON(channel, fn, ...) DEBUG_MESSAGE(DBG_TRACE, channel, fn, __VA_ARGS__)
