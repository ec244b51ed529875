#!/usr/bin/env bash
# The installed interface as a host sees it: the shared library has a SONAME, it and the archive
# give a host exactly the interface's functions (and the archive's build check refuses an object
# that lacks one), and the header compiles as C++17 and C++20 without warnings.
# Usage: exports.sh PREFIX CXX SOURCE_DIR CMAKE
set -euo pipefail
prefix=$1 cxx=$2 source_dir=$3 cmake=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
expected="valdori_agent_cancel_udp_bindings valdori_agent_config_free valdori_agent_config_id_pk
valdori_agent_config_load_or_generate valdori_agent_config_network_add valdori_agent_config_network_disable
valdori_agent_config_network_enable valdori_agent_config_network_remove valdori_agent_config_networks
valdori_agent_config_networks_free valdori_agent_free valdori_agent_init_logging valdori_agent_network_change_dns_server
valdori_agent_network_change_ips valdori_agent_network_change_routes valdori_agent_network_disabled
valdori_agent_network_name valdori_agent_network_url valdori_agent_runtime valdori_agent_runtime_free
valdori_agent_shutdown valdori_agent_start valdori_agent_status valdori_agent_status_free valdori_agent_tun_device_create
valdori_agent_tun_device_free valdori_agent_version"

library=$(readlink -f "$prefix/lib/libvaldori_agent.so")
interface() {  # interface WHAT SYMBOLS...: the symbols are the interface's functions
  local symbols
  symbols=$(printf '%s\n' "${@:2}" | sort)
  if [ "$symbols" != "$(tr ' ' '\n' <<<"$expected" | sort)" ] || [ "$(wc -l <<<"$symbols")" -ne 27 ]; then
    echo "FAILED: $1 differ:"
    diff <(tr ' ' '\n' <<<"$expected" | sort) <(echo "$symbols") | head -20 || true
    failed=1
  fi
}
# shellcheck disable=SC2046 # one symbol a word
interface "the shared library's exported symbols" $(nm -D --defined-only "$library" | awk '{print $NF}')
# shellcheck disable=SC2046
interface "the archive's global symbols" $(nm -g --defined-only "$prefix/lib/libvaldori_agent.a" | awk 'NF == 3 {print $3}')
# An object defining every function but valdori_agent_version, as the archive's would be with a
# keep pattern that misses one: the check that runs before the archive is written names it.
for name in $expected; do
  [ "$name" = valdori_agent_version ] || echo "extern \"C\" void $name() {}"
done | "$cxx" -x c++ -c -o "$work/missing.o" -
if output=$("$cmake" -DNM=nm -DOBJECT="$work/missing.o" -DEXPORTED='valdori_agent_*' \
    -DHEADER="$prefix/include/valdori_agent.h" -P "$source_dir/cmake/c_interface/check_globals.cmake" 2>&1) ||
  ! tr -s ' \n' ' ' <<<"$output" | grep -q ' 1 of the 27 functions .* valdori_agent_version A host'; then
  echo "FAILED: the archive check takes an object without valdori_agent_version:"
  head -10 <<<"$output"
  failed=1
fi
if ! readelf -d "$library" | grep -q 'SONAME.*\[libvaldori_agent\.so\.[0-9]*\]'; then
  echo "FAILED: no SONAME"
  failed=1
fi
for standard in c++17 c++20; do
  if ! "$cxx" -std=$standard -Wall -Wextra -Werror -pedantic -fsyntax-only -x c++ \
      -I"$prefix/include" - <<<'#include "valdori_agent.h"'; then
    echo "FAILED: the header as $standard"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "6 passed, 0 failed" || exit 1
