#include "support/debug_capture.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "diag/debug_channel.h"
#include "diag/debug_fallback.h"

namespace {

// Unresolved again, so that the next message of each class asks the
// fallbacks about the new configuration.
void reconfigure(const char *pxq) {
    _putenv_s("PXQ", pxq ? pxq : "");
    fallback_reset_configuration();
    dbch_printer.flags = 0xFF;
    dbch_printproxy.flags = 0xFF;
}

// Standard error is a text stream, so line feeds arrive as CR LF; read back
// in text mode they are single line feeds again.
std::string read_all(FILE *file) {
    std::string text;
    rewind(file);
    _setmode(_fileno(file), _O_TEXT);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0)
        text.append(chunk, n);
    return text;
}

} // namespace

std::string capture_debug_output(const char *pxq, const std::function<void()> &action) {
    debug_use_fallback_primitives();
    reconfigure(pxq);
    FILE *sink = tmpfile();
    if (!sink)
        return "(no temporary file)";
    fflush(stderr);
    int saved_stderr = _dup(_fileno(stderr));
    _dup2(_fileno(sink), _fileno(stderr));
    action();
    fflush(stderr);
    _dup2(saved_stderr, _fileno(stderr));
    _close(saved_stderr);
    reconfigure(nullptr);
    std::string text = read_all(sink);
    fclose(sink);
    return text;
}

std::string debug_header(const char *class_name, const char *function_name) {
    char header[128];
    snprintf(header, sizeof(header), "%04x:%s:printproxy:%s ",
             static_cast<unsigned>(GetCurrentThreadId()), class_name, function_name);
    return header;
}
