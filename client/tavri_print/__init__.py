"""Prints documents through tavri-printer-proxy, a Win32 program that runs
under Wine and prints BMP pages on a Wine printer. This package is the
protocol's server side (it listens on 127.0.0.1, starts the program and
runs the jobs), in three parts:

- `peer`: the packet codec and one run of the program;
- `printing`: documents made into pages and printed as one job (the
  `tavri-print` command is native, on the printer application's engine);
- `cups`: the CUPS backend, the job it runs as the prefix's owner, and the
  `tavri-cups-queue` command.

Nothing is imported here: the CUPS backend, which runs as root, loads only
its own small part."""
