#!/usr/bin/env bash
# Writes docs/deck-fields.md, the field tables of the input deck, from the
# description of the deck in python/qmr/deck/schema.py.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
PYTHONPATH="$root/python" /usr/bin/python3 -c \
  'import sys, qmr.deck.schema; sys.stdout.write(qmr.deck.schema.markdown())' \
  >"$root/docs/deck-fields.md"
