#!/usr/bin/env bash
# same_as_readme.sh README FILE...: fails unless each FILE is, byte for byte, the first block of
# the README's section "Using it from a host application" fenced with the FILE's extension as its
# language (run_agent.c: the c block), as CI builds and runs these files.
set -euo pipefail
readme=$1
shift
status=0
for file in "$@"; do
  fence="\`\`\`${file##*.}"
  awk -v fence="$fence" '/^## / { section = $0 }
      section == "## Using it from a host application" && $0 == fence { inside = 1; next }
      inside && /^```$/ { exit } inside' "$readme" |
    diff -u --label "$readme ($fence)" --label "$file" - "$file" || status=1
done
exit "$status"
