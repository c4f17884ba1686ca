// Wine programs started in a session of their own, so that the whole group
// (Wine's loader and what it starts) can be ended together; they inherit no
// descriptor but their standard ones.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Extra environment entries, NAME=VALUE, replacing the inherited ones of the
// same name.
using EnvironmentChanges = std::vector<std::string>;

// Starts argv[0] (looked up in PATH) with the given descriptors (-1:
// /dev/null) as standard input, output and error. Returns the pid, or -1
// with `error` set.
pid_t spawn_child(const std::vector<std::string> &argv, const EnvironmentChanges &changes,
                  int stdout_fd, int stderr_fd, std::string &error, int stdin_fd = -1);

// Whether the child has exited within timeout_ms (0: just look); its wait
// status in `status`. A child that has exited is reaped.
bool wait_child(pid_t pid, int timeout_ms, int *status);

// Kills the child's whole group and reaps the child.
void kill_child_group(pid_t pid);

// The output of a command that ends by itself, read from a file rather than
// a pipe: Wine's services inherit a first program's output and outlive it,
// so a pipe would not end with the program. False, with `error`, when it
// cannot run, does not end within timeout_ms, exits with a status other
// than 0 (`error` then holds its last line on standard error), or writes
// more than max_bytes.
bool run_for_output(const std::vector<std::string> &argv, const EnvironmentChanges &changes,
                    int timeout_ms, size_t max_bytes, std::string &output, std::string &error);

// A file in memory for a child's output that holds at most `size` bytes:
// writes past them fail. -1 when none can be made (the output is then lost).
int bounded_memory_file(const char *name, size_t size);
// The last line of text a child has written to such a file, control
// characters replaced, at most 300 bytes; "" when it wrote none.
std::string last_line_written(int fd);

// Closes `fd` unless it is -1 already, and makes it -1.
void close_fd(int &fd);

// A short description of a wait status for messages.
std::string describe_wait_status(int status);
