// What the application checks and takes before it serves, each refusal a
// message that names what failed: the prefix exists, the output folder can
// be written, no other application serves the prefix or holds the port.
#pragma once

#include <string>

// Empty when `prefix` is a folder: Wine would make a missing one silently.
std::string check_prefix(const std::string &prefix);

// A warning when other users can look into the prefix: the names of the
// files that jobs make there (their own contents are the owner's alone);
// empty when they cannot.
std::string prefix_exposure(const std::string &prefix);

// Makes the output folder (mode 0700) when it is missing; empty when the
// user can then write into it.
std::string prepare_output_folder(const std::string &folder);

// Makes the printer system's spool folder (mode 0700) when it is missing;
// empty when it is then a folder of the user's alone, which nobody else can
// read a job from or put one into.
std::string prepare_spool_folder(const std::string &folder);

// Takes the prefix's application lock (PREFIX/.tavri-printer-app.lock, the
// user's alone) for as long as the process lives; empty when taken, with the
// descriptor in `fd`.
std::string hold_prefix(const std::string &prefix, int &fd);

// Empty when nothing listens on the loopback port (IPv4 and IPv6) that the
// application is to serve: the printer system would serve whichever address
// is left, beside the other application.
std::string check_port_free(int port);
