// Who may change the printers: PAPPL, given no way to authenticate, lets
// every local client use the web interface's settings and IPP's
// administrative operations, so on a shared machine any user could change
// the owner's defaults, cancel the owner's jobs or delete printers. While
// only local clients are served, those take the application's owner (or
// root); printing, and IPP's operations on a job, stay open to every local
// user, as with CUPS.
#pragma once

#include <pappl/pappl.h>

void admit_only_the_owner_as_administrator(pappl_system_t *system);
