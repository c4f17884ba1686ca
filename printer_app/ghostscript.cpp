#include "ghostscript.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "child_process.h"
#include "fd_io.h"

namespace {

// Said after every command; a document cannot make Ghostscript say it,
// since a PDF page runs no PostScript of its own.
constexpr const char *DONE_MARKER = "#tavri-command-done";
// A longer line is cut to its end: only the last words are kept.
constexpr size_t MAX_LINE = 4096;
constexpr int IDLE_PERIOD_MS = 1000;

// Takes the complete lines of `partial`; true when the marker was among them.
bool take_lines(Ghostscript &gs) {
    for (size_t end; (end = gs.partial.find('\n')) != std::string::npos;) {
        std::string line = gs.partial.substr(0, end);
        gs.partial.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == DONE_MARKER)
            return true;
        if (!line.empty())
            gs.last_line = line;
    }
    if (gs.partial.size() > MAX_LINE)
        gs.partial.erase(0, gs.partial.size() - MAX_LINE);
    return false;
}

std::string last_words(const Ghostscript &gs) {
    return gs.last_line.empty() ? std::string("no message") : gs.last_line;
}

} // namespace

bool ghostscript_start(Ghostscript &gs, const std::vector<std::string> &args,
                       const std::string &pdf) {
    int input[2], output[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) {
        gs.error = std::string("no socket for Ghostscript: ") + strerror(errno);
        return false;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        gs.error = std::string("no pipe for Ghostscript: ") + strerror(errno);
        close(input[0]);
        close(input[1]);
        return false;
    }
    // Rasterising only has to keep ahead of the printer: on a busy machine
    // the printing, not the next page, should get the processor.
    std::string memory = "--as=" + std::to_string(gs.limits.memory_bytes);
    std::vector<std::string> argv = {"nice", "-n", "10", "prlimit", memory, "--", "gs", "-q"};
    for (const char *safe : {"-dSAFER", "-dNOPAUSE", "-dNOPROMPT"})
        argv.push_back(safe);
    argv.push_back("--permit-file-read=" + pdf);
    argv.insert(argv.end(), args.begin(), args.end());
    gs.pid = spawn_child(argv, {}, output[1], output[1], gs.error, input[1]);
    close(input[1]);
    close(output[1]);
    gs.input = input[0];
    gs.output = output[0];
    return gs.pid > 0;
}

bool ghostscript_send(Ghostscript &gs, const std::string &command) {
    std::string text = command + "\n(" + DONE_MARKER + ") = flush\n";
    gs.last_line.clear();
    if (write_all(gs.input, text.data(), text.size(), true))
        return true;
    gs.error = "Ghostscript ended: " + last_words(gs);
    return false;
}

bool ghostscript_wait(Ghostscript &gs, bool (*idle)(void *), void *context) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(gs.limits.command_ms);
    char buffer[4096];
    for (;;) {
        if (take_lines(gs))
            return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            gs.error = "Ghostscript took more than " + std::to_string(gs.limits.command_ms / 1000) +
                       " s: " + last_words(gs);
            return false;
        }
        pollfd ready{gs.output, POLLIN, 0};
        int polled = poll(&ready, 1, IDLE_PERIOD_MS);
        if (polled == 0 && idle && !idle(context)) {
            gs.error = "stopped while Ghostscript worked";
            return false;
        }
        if (polled <= 0)
            continue;
        ssize_t n = read(gs.output, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            take_lines(gs);
            gs.error = "Ghostscript ended: " + last_words(gs);
            return false;
        }
        gs.partial.append(buffer, size_t(n));
    }
}

void ghostscript_stop(Ghostscript &gs, int wait_ms) {
    close_fd(gs.input); // end of its input: it quits
    close_fd(gs.output);
    if (gs.pid > 0) {
        int status;
        if (!wait_child(gs.pid, wait_ms, &status))
            kill_child_group(gs.pid);
    }
    gs.pid = -1;
}
