#include "child_process.h"

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::vector<std::string> merged_environment(const EnvironmentChanges &changes) {
    std::vector<std::string> env;
    for (char **entry = environ; *entry; ++entry) {
        std::string_view text(*entry);
        std::string_view name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string &change : changes)
            replaced = replaced || std::string_view(change).substr(0, name.size()) == name;
        if (!replaced)
            env.emplace_back(text);
    }
    env.insert(env.end(), changes.begin(), changes.end());
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> out;
    for (std::string &text : texts)
        out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

// Spawn attributes and file actions, destroyed on every path.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
};

void redirect(posix_spawn_file_actions_t &actions, int fd, int target) {
    if (fd < 0)
        posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                                         target == 0 ? O_RDONLY : O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, fd, target);
}

} // namespace

pid_t spawn_child(const std::vector<std::string> &argv, const EnvironmentChanges &changes,
                  int stdout_fd, int stderr_fd, std::string &error, int stdin_fd) {
    SpawnSetup setup;
    // A session of its own: the group can be killed, and no terminal's
    // signals reach it.
    posix_spawnattr_setflags(&setup.attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    redirect(setup.actions, stdin_fd, 0);
    redirect(setup.actions, stdout_fd, 1);
    redirect(setup.actions, stderr_fd, 2);
    // The server's sockets must not live on in wineserver after a job.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
    std::vector<std::string> args = argv, env = merged_environment(changes);
    std::vector<char *> arg_ptrs = pointers(args), env_ptrs = pointers(env);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, arg_ptrs[0], &setup.actions, &setup.attr, arg_ptrs.data(),
                              env_ptrs.data());
    if (failed) {
        error = "cannot start " + argv[0] + ": " + strerror(failed);
        return -1;
    }
    return pid;
}

bool wait_child(pid_t pid, int timeout_ms, int *status) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void kill_child_group(pid_t pid) {
    if (pid <= 0)
        return;
    kill(-pid, SIGKILL);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string describe_wait_status(int status) {
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "wait status " + std::to_string(status);
}

bool run_for_output(const std::vector<std::string> &argv, const EnvironmentChanges &changes,
                    int timeout_ms, size_t max_bytes, std::string &output, std::string &error) {
    int fd = memfd_create("tavri-query", MFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("no memory file: ") + strerror(errno);
        return false;
    }
    int said = bounded_memory_file("tavri-query-errors", 1 << 16);
    pid_t pid = spawn_child(argv, changes, fd, said, error);
    int status = 0;
    bool ended = pid > 0 && wait_child(pid, timeout_ms, &status);
    if (pid > 0 && !ended) {
        kill_child_group(pid);
        error = argv[0] + " did not end within " + std::to_string(timeout_ms / 1000) + " s";
    } else if (ended && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        std::string why = last_line_written(said); // the program's own words, when it has any
        error = why.empty() ? argv.back() + " failed: " + describe_wait_status(status)
                            : why + " (" + describe_wait_status(status) + ")";
    }
    close_fd(said);
    struct stat info {};
    if (ended && error.empty() && fstat(fd, &info) != 0)
        error = std::string("the answer cannot be measured: ") + strerror(errno);
    if (ended && error.empty() && size_t(info.st_size) > max_bytes)
        error = "the answer is larger than " + std::to_string(max_bytes >> 20) + " MiB";
    if (ended && error.empty()) {
        output.assign(size_t(info.st_size), '\0');
        if (pread(fd, output.data(), output.size(), 0) != ssize_t(output.size()))
            error = "the answer cannot be read";
    }
    close(fd);
    return error.empty();
}

int bounded_memory_file(const char *name, size_t size) {
    int fd = memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd >= 0 && (ftruncate(fd, off_t(size)) != 0 ||
                    fcntl(fd, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0))
        close_fd(fd);
    return fd;
}

std::string last_line_written(int fd) {
    // The child shares the file's offset: it is the end of what it wrote.
    off_t end = fd >= 0 ? lseek(fd, 0, SEEK_CUR) : -1;
    std::string tail(size_t(std::clamp<off_t>(end, 0, 1024)), '\0');
    if (pread(fd, tail.data(), tail.size(), end - off_t(tail.size())) != ssize_t(tail.size()))
        return "";
    size_t last = tail.find_last_not_of("\r\n");
    if (last == std::string::npos)
        return "";
    size_t first = tail.find_last_of('\n', last);
    first = first == std::string::npos ? 0 : first + 1;
    std::string line = tail.substr(first, std::min<size_t>(last + 1 - first, 300));
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return line;
}

void close_fd(int &fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}
