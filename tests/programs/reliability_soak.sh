#!/usr/bin/env bash
# Short fault soak for CI: 300 tiles, 10% faults, re-download rounds.
exec bash "$(dirname "$0")/reliability/soak.sh" "$1" --cols 15 --rows 20
