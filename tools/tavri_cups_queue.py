#!/usr/bin/env python3
"""tavri-cups-queue from this source tree (the package installs it on PATH)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "client"))
from tavri_print.queue_cli import main  # noqa: E402

sys.exit(main())
