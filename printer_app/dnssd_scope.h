// Where the printers are advertised by DNS-SD. PAPPL 1.3 announces each
// service on every network interface, naming this machine, even when it
// serves only local clients: other machines would list printers that they
// cannot reach. While only local clients are served, the announcements go
// to the loopback interface alone, where this machine's own CUPS and print
// dialogs find them.
#pragma once

void advertise_only_on_loopback();
