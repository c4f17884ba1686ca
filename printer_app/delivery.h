// The driver's output of a finished job, moved from drive C: of the prefix
// into the owner's output folder. Only the job's own file is read and
// removed, reached from the prefix without following a link.
#pragma once

#include <string>
#include <string_view>

#include <sys/types.h>

#include "onward_send.h"

// A file name for a job's output: "job-ID-TITLE" with the title made safe
// (letters, digits, '-', '_' and '.'; at most 60 bytes), without extension.
std::string output_file_stem(int job_id, std::string_view title);

// The extension that the output's first bytes call for: ".ps", ".pdf" or ".prn".
std::string output_extension(std::string_view head);

// Moves PREFIX/drive_c/NAME into `folder` (made when missing) as
// STEM.EXT, never replacing a file; `delivered` is the new path. A file for
// a `group` (not -1) is that group's to read, mode 0640; else the owner's alone.
bool deliver_output(const std::string &prefix, const std::string &name, const std::string &folder,
                    const std::string &stem, std::string &delivered, std::string &error,
                    gid_t group = gid_t(-1));

// Copies PREFIX/drive_c/NAME into `fd` (a pipe), then removes it.
bool deliver_to_fd(const std::string &prefix, const std::string &name, int fd, std::string &error);

// The pages of PREFIX/drive_c/NAME: its lines that begin "%%Page:".
uint64_t output_page_count(const std::string &prefix, const std::string &name);

// Hands PREFIX/drive_c/NAME on to `destination` ("queue:NAME" or a URI)
// as a job called `title`, then removes it; kept when it was not taken.
OnwardResult deliver_onward_output(const std::string &prefix, const std::string &name,
                                   const std::string &destination, const std::string &title);
