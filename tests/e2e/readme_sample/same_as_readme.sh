#!/usr/bin/env bash
# same_as_readme.sh README SAMPLE: fails unless the C block of the README's section "Using it from
# a host application" is, byte for byte, the sample's source, which CI builds and runs.
set -euo pipefail
awk '/^## / { section = $0 } section == "## Using it from a host application" && /^```c$/ { inside = 1; next }
     inside && /^```$/ { exit } inside' "$1" | diff -u --label "$1" --label "$2" - "$2"
