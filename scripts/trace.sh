#!/bin/sh
# Builds the exe, runs it under Wine and prints a numbered timeline of its
# own calls into USER32, GDI32, OPENGL32 and GLU32, each under the message
# that its window procedure was handling, from Wine's relay log:
#   scripts/trace.sh [win32|win64] [--raw]
# Headless (no DISPLAY) it plays the e2e suite's story: first picture,
# drag, maximise and restore, minimise and restore, close. With DISPLAY set it opens
# there for you to drive. --raw keeps Wine's whole log.
exec "$(dirname "$0")/run.sh" --trace "$@"
