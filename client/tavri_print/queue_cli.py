"""The command that creates CUPS queues for Wine printers (not yet here)."""


def main():
    raise SystemExit("tavri-cups-queue: not available yet; use lpadmin with a tavri: device URI")
