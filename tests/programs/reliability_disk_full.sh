#!/usr/bin/env bash
# Disk full for CI: a 60-tile task on a small tmpfs (or under a file-size
# limit where mounting is not allowed), then a resume.
exec bash "$(dirname "$0")/reliability/disk_full.sh" "$1" --cols 6 --rows 10
