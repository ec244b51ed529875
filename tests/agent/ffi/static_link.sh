#!/usr/bin/env bash
# The static archive as a host links it: from a prefix that holds no shared library, with the
# flags of `pkg-config --static`, a C program links without further libraries and runs.
# Usage: static_link.sh PREFIX; CC and SANITIZE (extra compile and link flags) from the environment.
set -euo pipefail
prefix=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lib/pkgconfig"
cp -r "$prefix/include" "$work/"
cp "$prefix/lib/libvaldori_agent.a" "$work/lib/"
cp "$prefix/lib/pkgconfig/valdori_agent.pc" "$work/lib/pkgconfig/"
cat >"$work/host.c" <<'C'
#include <stdio.h>

#include "valdori_agent.h"

int main(void) {
  printf("%s\n", valdori_agent_version());
  return 0;
}
C
export PKG_CONFIG_PATH=$work/lib/pkgconfig
# shellcheck disable=SC2046,SC2086 # flags are words
"${CC:-cc}" -std=c11 -Wall -Wextra -Werror ${SANITIZE:-} $(pkg-config --static --cflags valdori_agent) \
  -o "$work/host" "$work/host.c" $(pkg-config --static --libs valdori_agent)
version=$("$work/host")
if [[ ! $version =~ ^[0-9]+\.[0-9]+\.[0-9]+ ]]; then
  echo "FAILED: the statically linked host printed '$version'"
  exit 1
fi
echo "1 passed, 0 failed"
