#!/usr/bin/env bash
# The NaN-from-the-host test under UndefinedBehaviorSanitizer, in build-ubsan (see sanitize.sh).
exec "$(dirname "${BASH_SOURCE[0]}")/sanitize.sh" undefined
