// PAPPL's command line (tavri-printer-app status, shutdown, submit, ...)
// reaches a running server through a local socket that PAPPL names for the
// user in $TMPDIR, where any user could connect to it or take its name
// first. Here it lives in a folder of the user's alone, one socket per Wine
// prefix: the login session's runtime folder (/run/user/UID), else a
// folder of our own, $TMPDIR/tavri-printer-app-UID (root's in /run), made
// private.
#pragma once

#include <string>

// The prefix whose socket the command line and the server use.
void set_command_socket_prefix(const std::string &prefix);

// Makes the socket's folder if it is missing; says why it cannot be used
// (another user's, or open to others), empty when it can.
std::string prepare_command_socket_folder();
