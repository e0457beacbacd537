#!/usr/bin/env python3
"""Entry point of python/qmrdev (see its help)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)),
                                "..", "python"))
from qmrdev.mistake_stats import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
