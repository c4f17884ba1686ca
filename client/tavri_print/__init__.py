"""The CUPS side of tavri-printer-proxy, a Win32 program that runs under
Wine and prints BMP pages on a Wine printer: the backend's root part, which
starts the job's worker (native, on the engine every front end shares) as
the Wine prefix's owner, and the `tavri-cups-queue` command (`cups`).

Nothing is imported here: the CUPS backend, which runs as root, loads only
its own small part."""
