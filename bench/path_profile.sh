#!/usr/bin/env bash
# Where the packet path's time goes, per thread: the two agents of bench/tunnel_throughput.sh, or
# two tunpipe processes of the simplest path (../shared/bench/limit) in the same topology, under
# one workload while perf counts and samples both processes.
# Usage: bench/path_profile.sh agents BUILD_DIR WORKLOAD [SECONDS] [OUT_DIR]
#        bench/path_profile.sh tunpipe TUNPIPE_C WORKLOAD [SECONDS] [OUT_DIR]
#   WORKLOAD: tcp1 (one TCP stream A to B), udp64 (64-byte UDP datagrams at full rate), ping
#   (100 pings 10 ms apart). Writes to OUT_DIR (default: a new temporary folder, printed):
#   stat.csv (perf stat per thread: CPU time, context switches, system calls, each kind counted), trace.txt (perf
#   trace's system call summary per thread, from a second run of the workload), perf.data
#   (perf record -g of a third run) and packets.txt (the TUN interfaces' counters over each run).
# Needs root, perf, iperf3, gcc and libsodium-dev for tunpipe.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=$1 source=$2 workload=$3 seconds=${4:-8}
out=${5:-$(mktemp -d)}
mkdir -p "$out"
source tests/e2e/two_agents.sh
two_agents_check_host
work=$(mktemp -d)
PID_IPERF= PIDS=()
finish() {
  [ -z "$PID_IPERF" ] || stop_process "$PID_IPERF" || true
  local pid
  for pid in "${PIDS[@]}"; do stop_process "$pid" || true; done
  two_agents_down
  rm -rf "$work"
}
trap finish EXIT

if [ "$mode" = agents ]; then
  TWO_AGENTS_HOST_OPTIONS="--log-level error"
  two_agents_up "$source/examples/linux_host/valdori-linux-host" "$source/tools/valdori-super-peer" "$work"
  PIDS=("$PID_A" "$PID_B")
  ip netns exec "$NS_A" ping -q -c 1 -w 15 "$IP_B" >/dev/null
  sleep 3  # the direct path answers
else
  # As pipe-pair.sh gso, with symbols for perf.
  gcc -O2 -g -o "$work/tunpipe" "$source" -lsodium -lpthread
  ip netns add "$NS_A"
  ip netns add "$NS_B"
  ip tuntap add dev "$TUN_A" mode tun
  ip tuntap add dev "$TUN_B" mode tun
  "$work/tunpipe" "$TUN_A" 127.0.0.1 40101 127.0.0.1 40102 gso &
  PIDS+=($!)
  "$work/tunpipe" "$TUN_B" 127.0.0.1 40102 127.0.0.1 40101 gso &
  PIDS+=($!)
  sleep 0.3
  for x in "$NS_A:$TUN_A:$IP_A" "$NS_B:$TUN_B:$IP_B"; do
    IFS=: read -r ns dev addr <<<"$x"
    ip link set "$dev" netns "$ns"
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "$addr/24" dev "$dev"
    ip -n "$ns" link set "$dev" mtu 1073 up
  done
fi
ip netns exec "$NS_B" iperf3 -s >/dev/null 2>&1 &
PID_IPERF=$!
sleep 0.5

run_workload() {
  case $workload in
    tcp1) ip netns exec "$NS_A" iperf3 -c "$IP_B" -t "$seconds" >"$out/iperf-$1.txt" ;;
    udp64) ip netns exec "$NS_A" iperf3 -c "$IP_B" -u -l 64 -b 0 -t "$seconds" >"$out/iperf-$1.txt" ;;
    ping) ip netns exec "$NS_A" ping -q -c 100 -i 0.01 "$IP_B" >"$out/iperf-$1.txt" ;;
  esac
}
# The packets each program read from its tunnel (tx) and wrote into it (rx).
counters() {
  local x ns dev side
  for x in "$NS_A:$TUN_A:A" "$NS_B:$TUN_B:B"; do
    IFS=: read -r ns dev side <<<"$x"
    echo "$side read $(ip netns exec "$ns" cat "/sys/class/net/$dev/statistics/tx_packets")" \
         "wrote $(ip netns exec "$ns" cat "/sys/class/net/$dev/statistics/rx_packets")"
  done
}
pids=$(IFS=,; echo "${PIDS[*]}")
# Thread ids and names of both programs, A first.
for pid in "${PIDS[@]}"; do
  for task in /proc/"$pid"/task/*; do echo "$pid $(basename "$task") $(cat "$task/comm")"; done
done >"$out/threads.txt"

measure() {  # NAME COMMAND...: runs the workload under the command, counters around it
  local name=$1
  shift
  { echo "$name before"; counters; } >>"$out/packets.txt"
  "$@" &
  local tool=$!
  sleep 0.2
  run_workload "$name"
  kill -INT "$tool" 2>/dev/null || true
  wait "$tool" || true
  { echo "$name after"; counters; } >>"$out/packets.txt"
}
measure stat perf stat --per-thread -x, -o "$out/stat.csv" -p "$pids" \
  -e task-clock,context-switches,raw_syscalls:sys_enter,syscalls:sys_enter_epoll_wait \
  -e syscalls:sys_enter_read,syscalls:sys_enter_readv,syscalls:sys_enter_write,syscalls:sys_enter_writev \
  -e syscalls:sys_enter_recvmsg,syscalls:sys_enter_sendmsg,syscalls:sys_enter_sendto,syscalls:sys_enter_epoll_ctl
measure trace perf trace -s -p "$pids" -o "$out/trace.txt"
measure record perf record -F 1999 -g -o "$out/perf.data" -p "$pids"
echo "$mode $workload: $out (load $(cut -d' ' -f1-3 /proc/loadavg))"
