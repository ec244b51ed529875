# Two agents, each on a TUN interface in a network namespace of its own, members of one overlay
# network 10.77.0.0/24 (alpha at 10.77.0.1 in namespace A, beta at 10.77.0.2 in namespace B),
# talking over 127.0.0.1 in the root namespace through a super peer there. Sourced by the
# end-to-end test and the tunnel benchmark; names carry the shell's PID, so runs side by side
# do not meet.
#
#   two_agents_check_host          exits 77 (skipped) when not root or without /dev/net/tun
#   two_agents_work_dir            sets work to a new temporary folder and has the script's exit
#                                  run two_agents_down, then e2e_report on it
#   two_agents_up HOST SUPER_PEER WORK_DIR [MTU_A [MTU_B]]
#       starts the super peer and both hosts (HOST is valdori-linux-host) and waits until both
#       interfaces have their addresses; MTU_A and MTU_B, when not empty, set the agents' MTU. Sets NS_A NS_B TUN_A TUN_B
#       PID_A PID_B PID_SUPER_PEER, PK_A PK_B, DNS_A DNS_B (the responder addresses) and
#       NETWORK_DOCUMENT; the programs' output is in WORK_DIR/{super_peer,a,b}.log.
#       TWO_AGENTS_HOST_OPTIONS, when set, goes before the mode of every host call, prepare and
#       run alike (e.g. "--log-level error").
#   write_network_document HOST_NAME...   rewrites the network document with these members
#   two_agents_stop_hosts          SIGTERM to both hosts; fails unless both exit with 0
#   two_agents_down                stops whatever still runs, removes the namespaces; for traps
#   in_a COMMAND..., in_b COMMAND...   run a command in namespace A or B
#   check NAME COMMAND...          runs the command and reports it, counting into PASSED and FAILED
#   e2e_report STATUS WORK_DIR     for a script's exit trap, after its teardown: shows the logs in
#                                  WORK_DIR when anything failed (STATUS: the script's exit status),
#                                  removes WORK_DIR and prints the counts

IP_A=10.77.0.1
IP_B=10.77.0.2
OVERLAY_NET=10.77.0.0/24
NS_A="valdori-e2e-$$-a"
NS_B="valdori-e2e-$$-b"
TUN_A="vdtun$$a"
TUN_B="vdtun$$b"
PID_A= PID_B= PID_SUPER_PEER=
PK_A= PK_B= NETWORK_DOCUMENT=
PASSED=0 FAILED=0

in_a() { ip netns exec "$NS_A" "$@"; }
in_b() { ip netns exec "$NS_B" "$@"; }

e2e_report() {
  if [ "$1" -ne 0 ] && [ "$FAILED" -eq 0 ]; then
    echo "FAILED: setting up"
    FAILED=1
  fi
  if [ "$FAILED" -ne 0 ]; then
    local log
    for log in "$2"/*.log; do echo "--- $log"; tail -n 40 "$log"; done
  fi
  rm -rf "$2"
  echo "$PASSED passed, $FAILED failed"
}

check() {
  local name=$1 started=$SECONDS
  shift
  if "$@"; then
    echo "ok: $name ($((SECONDS - started)) s)"
    PASSED=$((PASSED + 1))
  else
    echo "FAILED: $name"
    FAILED=$((FAILED + 1))
  fi
}

two_agents_check_host() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root (network namespaces and TUN interfaces)"
    exit 77
  fi
  if [ ! -c /dev/net/tun ]; then
    echo "SKIP: /dev/net/tun is missing"
    exit 77
  fi
}

two_agents_work_dir() {
  work=$(mktemp -d)
  trap two_agents_finish EXIT
}

two_agents_finish() {
  local status=$?
  two_agents_down
  e2e_report "$status" "$work"
}

# wait_for_line FILE REGEX SECONDS PID: true once a line of FILE matches; false when SECONDS
# pass first or the process PID, which writes FILE, ends.
wait_for_line() {
  local deadline=$((SECONDS + $3))
  until grep -Eq "$2" "$1" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] && kill -0 "$4" 2>/dev/null || return 1
    sleep 0.1
  done
}

two_agents_up() {
  local host=$1 super_peer=$2 work=$3 mtu_a=${4:-} mtu_b=${5:-}
  # Loopback only, and identities found at once.
  export VALDORI_UDP_ADDRS=127.0.0.1 VALDORI_UDP_PORT=0 VALDORI_MIN_POW_DIFFICULTY=4

  "$super_peer" --network-id 1 --listen 127.0.0.1 --difficulty 4 --min-pow-difficulty 4 \
    >"$work/super_peer.url" 2>"$work/super_peer.log" &
  PID_SUPER_PEER=$!
  wait_for_line "$work/super_peer.url" '^udp://' 10 "$PID_SUPER_PEER" || { echo "super peer did not start"; return 1; }
  local super_peer_url
  super_peer_url=$(head -n 1 "$work/super_peer.url")

  NETWORK_DOCUMENT="$work/network.toml"
  # shellcheck disable=SC2086 # options are words
  PK_A=$("$host" ${TWO_AGENTS_HOST_OPTIONS:-} prepare "$work/a.toml" "$super_peer_url" "file://$NETWORK_DOCUMENT" ${mtu_a:+"$mtu_a"})
  # shellcheck disable=SC2086
  PK_B=$("$host" ${TWO_AGENTS_HOST_OPTIONS:-} prepare "$work/b.toml" "$super_peer_url" "file://$NETWORK_DOCUMENT" ${mtu_b:+"$mtu_b"})
  write_network_document alpha beta

  ip netns add "$NS_A"
  ip netns add "$NS_B"
  # shellcheck disable=SC2086 # options are words
  "$host" ${TWO_AGENTS_HOST_OPTIONS:-} run "$work/a.toml" "$TUN_A" "$NS_A" "$work/a.dns" >"$work/a.log" 2>&1 &
  PID_A=$!
  # shellcheck disable=SC2086
  "$host" ${TWO_AGENTS_HOST_OPTIONS:-} run "$work/b.toml" "$TUN_B" "$NS_B" "$work/b.dns" >"$work/b.log" 2>&1 &
  PID_B=$!
  wait_for_line "$work/a.log" "^applied ips=$IP_A/24 " 20 "$PID_A" || { echo "agent A applied no address"; return 1; }
  wait_for_line "$work/b.log" "^applied ips=$IP_B/24 " 20 "$PID_B" || { echo "agent B applied no address"; return 1; }
  DNS_A=$(cat "$work/a.dns")
  DNS_B=$(cat "$work/b.dns")
}

# write_network_document HOST_NAME...: the network document with the nodes named (alpha, beta),
# all in one group that a policy lets talk to each other. The agents read it on every
# housekeeping pass.
write_network_document() {
  {
    printf 'network = "%s"\nname = "e2e"\n' "$OVERLAY_NET"
    local name
    for name in "$@"; do
      case $name in
        alpha) printf '\n[[node]]\npk = "%s"\nip = "%s"\nhostname = "alpha"\ngroups = ["e2e"]\n' "$PK_A" "$IP_A" ;;
        beta) printf '\n[[node]]\npk = "%s"\nip = "%s"\nhostname = "beta"\ngroups = ["e2e"]\n' "$PK_B" "$IP_B" ;;
      esac
    done
    printf '\n[[policy]]\nsource_groups = ["e2e"]\ndestination_groups = ["e2e"]\n'
  } >"$NETWORK_DOCUMENT.partial"
  mv "$NETWORK_DOCUMENT.partial" "$NETWORK_DOCUMENT"  # never read half-written
}

# stop_process PID: SIGTERM, then SIGKILL after 10 s; gives the exit status.
stop_process() {
  kill -TERM "$1" 2>/dev/null || true
  local i
  for i in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1"
}

two_agents_stop_hosts() {
  local status_a=0 status_b=0
  stop_process "$PID_A" || status_a=$?
  stop_process "$PID_B" || status_b=$?
  PID_A= PID_B=
  [ "$status_a" -eq 0 ] && [ "$status_b" -eq 0 ] ||
    { echo "hosts exited with $status_a (A) and $status_b (B)"; return 1; }
}

two_agents_down() {
  local pid
  for pid in $PID_A $PID_B $PID_SUPER_PEER; do stop_process "$pid" || true; done
  PID_A= PID_B= PID_SUPER_PEER=
  ip netns del "$NS_A" 2>/dev/null || true
  ip netns del "$NS_B" 2>/dev/null || true
}
