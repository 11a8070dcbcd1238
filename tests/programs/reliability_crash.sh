#!/usr/bin/env bash
# Short crash-and-resume for CI: three kills of a 120-tile task.
exec bash "$(dirname "$0")/reliability/crash_resume.sh" "$1" --runs 3 \
  --cols 10 --rows 12 --scale 0.1
