#!/usr/bin/env bash
# The concurrent processor and editor tests under AddressSanitizer, in build-asan (see sanitize.sh).
exec "$(dirname "${BASH_SOURCE[0]}")/sanitize.sh" address
