#!/usr/bin/env bash
# The README's install and build lines run as written: the interface installed into a temporary
# prefix, a small C host built four ways (pkg-config and find_package, each against the shared
# library and the archive) and each build run without LD_LIBRARY_PATH; a C++ host that compiles
# its own Boost.Asio links the archive and runs (not under ThreadSanitizer). A host's compile gets
# the include folder only.
# Usage: host_builds.sh SOURCE_DIR BINARY_DIR; the hosts' compilers and their extra compile and
# link flags (sanitizers) come from CC, CXX and SANITIZE.
set -euo pipefail
source_dir=$1 binary_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 passed=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then passed=$((passed + 1)); else echo "FAILED: $1"; failed=$((failed + 1)); fi
}

# The section's shell block and its CMakeLists.txt.
section=$(sed -n '/^## Using it from a host application/,/^## /p' "$source_dir/README.md")
fenced() { awk -v language="$1" '/^```/ { inside = !inside && $0 == "```" language; next } inside' <<<"$section"; }
lines=$(fenced sh)
if [ -z "$lines" ] || [ -z "$(fenced cmake)" ]; then
  echo "FAILED: the README's host section has no sh or cmake block"
  exit 1
fi

# The lines run from a stand-in of this project's folder whose build folder is the tree under test.
export PREFIX=$work/prefix HOST=$work/host
mkdir -p "$work/project" "$HOST"
ln -s "$binary_dir" "$work/project/build"
cp "$source_dir/tests/agent/ffi/minimal_host.c" "$HOST/host.c"
fenced cmake >"$HOST/CMakeLists.txt"
export CC=${CC:-cc} CFLAGS="${SANITIZE:-} -Wall -Wextra -Werror" LDFLAGS=${SANITIZE:-}
unset LD_LIBRARY_PATH
# shellcheck disable=SC2086 # flags are words
cc() { command "$CC" $CFLAGS "$@" $LDFLAGS; }  # as CMake takes them: CC, CFLAGS, LDFLAGS
export -f cc
if ! (cd "$work/project" && bash -euo pipefail -c "$lines"); then
  echo "FAILED: the README's install and build lines"
  exit 1
fi

export VALDORI_MIN_POW_DIFFICULTY=4  # a quick identity
links_shared() { readelf -d "$1" | grep -q 'NEEDED.*\[libvaldori_agent\.so'; }
links_archive() { ! links_shared "$1"; }
runs() {  # runs HOST: loads the configuration (the first run generates it), prints the version
  local output
  output=$("$1" "$work/agent.toml") && [[ $output =~ ^[0-9]+\.[0-9]+\.[0-9]+ ]]
}
for host in "$HOST/host" "$HOST/build/host"; do
  check "$host links the shared library" links_shared "$host"
  check "$host runs" runs "$host"
done
for host in "$HOST/host_static" "$HOST/build/host_static"; do
  check "$host links the archive" links_archive "$host"
  check "$host runs" runs "$host"
done

export PKG_CONFIG_PATH=$PREFIX/lib/pkgconfig
include_only() {  # include_only PKG_CONFIG_ARGUMENTS...: the flags name the include folder only
  local flags
  flags=$(pkg-config "$@")
  [[ $flags =~ ^-I([^ ]*)\ *$ ]] && [ "$(realpath "${BASH_REMATCH[1]}")" = "$(realpath "$PREFIX/include")" ]
}
asio_host() {  # the library's Asio is its own: none of its symbols meets the host's
  local output
  # shellcheck disable=SC2046,SC2086 # flags are words
  output=$("${CXX:-c++}" -std=c++20 $SANITIZE -Wall -Wextra -Werror -o "$HOST/asio_host" \
    "$source_dir/tests/agent/ffi/asio_host.cpp" $(pkg-config --static --cflags --libs valdori_agent_static) \
    2>&1) || { head -5 <<<"$output"; return 1; }
  "$HOST/asio_host" >/dev/null
}
# Asio's implementation compiles slowly, and which of the archive's symbols stay global does not
# depend on the sanitizer: the AddressSanitizer tree checks it, a ThreadSanitizer tree skips it.
if [[ ${SANITIZE:-} != *thread* ]]; then
  check "a C++ host with its own Asio links the archive and runs" asio_host
fi
for module in valdori_agent valdori_agent_static; do
  check "pkg-config --cflags $module" include_only --cflags "$module"
  check "pkg-config --static --cflags $module" include_only --static --cflags "$module"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
