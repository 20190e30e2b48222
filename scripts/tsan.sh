#!/usr/bin/env bash
# The concurrent processor and editor tests under ThreadSanitizer, in build-tsan (see sanitize.sh).
exec "$(dirname "${BASH_SOURCE[0]}")/sanitize.sh" thread
