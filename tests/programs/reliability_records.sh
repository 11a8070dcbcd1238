#!/usr/bin/env bash
# No record lost behind a saved position, for CI: kills at the first twelve
# saves of the task's files, and a run under a 2 KiB file-size limit.
exec bash "$(dirname "$0")/reliability/records_behind_positions.sh" "$1" \
  --kills 12
