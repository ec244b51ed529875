#!/usr/bin/env bash
# cc_installed.sh PREFIX OUTPUT SOURCE...: compiles C11 sources as a host would, with the flags
# pkg-config gives for the interface installed under PREFIX, warnings as errors. CC and SANITIZE
# (extra compile and link flags) come from the environment.
set -euo pipefail
prefix=$1 output=$2
shift 2
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046,SC2086 # flags are words
"${CC:-cc}" -std=c11 -Wall -Wextra -Werror -pedantic -O1 -g ${SANITIZE:-} $(pkg-config --cflags valdori_agent) \
  -o "$output" "$@" $(pkg-config --libs valdori_agent) -Wl,-rpath,"$prefix/lib" -pthread
