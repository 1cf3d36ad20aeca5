#!/usr/bin/env bash
# The demo behind `make cluster`: two platform roots stand for two hosts (box 1
# and box 333, each with its own /vm/tmp), class-of-service records live in a
# 3-member etcd cluster on 127.0.0.1, and box 1 hands its saves to box 333's
# vmpropd over TCP with mutual TLS. One member is killed half way and the
# next save still goes through. Everything started here is stopped on exit.
set -euo pipefail
build=${1:-build}
work=${2:-}
vmcfg="$build/vmcfg"
vmpropd="$build/vmpropd"
certs="$(dirname "$0")/vm-certs.sh"
etcd=${ETCD:-/usr/bin/etcd}
for program in "$vmcfg" "$vmpropd"; do
  [ -x "$program" ] || { echo "cluster-demo: $program is not built" >&2; exit 1; }
done
[ -x "$etcd" ] || { echo "cluster-demo: $etcd is missing (scripts/setup.sh installs etcd-server)" >&2; exit 1; }

# Data on /dev/shm when there is one: etcd syncs every write.
if [ -z "$work" ]; then
  base=/tmp; [ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
  work=$(mktemp -d "$base/vm-cluster.XXXXXX")
else
  rm -rf "$work"; mkdir -p "$work"
fi
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop_all EXIT

# Loopback ports nobody listens on, all different.
free_ports() {
  local chosen=() port
  while ((${#chosen[@]} < $1)); do
    port=$((20000 + RANDOM % 40000))
    [[ " ${chosen[*]} " == *" $port "* ]] && continue
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    chosen+=("$port")
  done
  echo "${chosen[*]}"
}
read -r -a ports <<<"$(free_ports 7)"

say() { printf '\n# %s\n' "$*"; }
run() {
  local root=$1 box=$2; shift 2
  printf '\n[%s] $ vmcfg --box %s' "$(basename "$root")" "$box"; printf ' %q' "$@"; echo
  "$vmcfg" --root "$root" --box "$box" "$@" || echo "(exit status $?)"
}

say "3 etcd members on 127.0.0.1, data in $work"
cluster=""
endpoints=""
for m in 0 1 2; do
  cluster+="${cluster:+,}m$m=http://127.0.0.1:${ports[m * 2 + 1]}"
  endpoints+="${endpoints:+,}127.0.0.1:${ports[m * 2]}"
done
for m in 0 1 2; do
  "$etcd" --name "m$m" --data-dir "$work/etcd-m$m" \
    --listen-client-urls "http://127.0.0.1:${ports[m * 2]}" \
    --advertise-client-urls "http://127.0.0.1:${ports[m * 2]}" \
    --listen-peer-urls "http://127.0.0.1:${ports[m * 2 + 1]}" \
    --initial-advertise-peer-urls "http://127.0.0.1:${ports[m * 2 + 1]}" \
    --initial-cluster "$cluster" --initial-cluster-state new \
    --initial-cluster-token "vm-demo-$$" --heartbeat-interval 50 --election-timeout 500 \
    --logger zap --log-outputs stderr --log-level error 2>"$work/etcd-m$m.log" &
  pids+=($!)
done
export VM_INDEX="etcd://$endpoints?prefix=/vm/demo&timeout_ms=2000"
echo "VM_INDEX=$VM_INDEX"
for _ in $(seq 100); do
  ETCDCTL_API=3 etcdctl --endpoints="$endpoints" endpoint health >/dev/null 2>&1 && break
  sleep 0.1
done

say "Two platform roots: host-a (box 1) and host-b (box 333, owner of class-of-service records)"
host_a="$work/host-a"
host_b="$work/host-b"
"$vmcfg" --root "$host_b" --box 333 init --demo >/dev/null
"$vmcfg" --root "$host_a" --box 1 init --demo >/dev/null
run "$host_a" 1 index status

say "Certificates: one private CA, one certificate per box (scripts/vm-certs.sh)"
"$certs" "$work/ca" 1 333 >/dev/null
for side in "$host_a:1" "$host_b:333"; do
  root=${side%:*} box=${side#*:}
  mkdir -p "$root/VM/config/tls"
  cp "$work/ca/ca.pem" "$work/ca/box$box.pem" "$work/ca/box$box.key" "$root/VM/config/tls/"
  chmod 600 "$root/VM/config/tls/box$box.key"
  ls -l "$root/VM/config/tls" | sed "s|^|  [$(basename "$root")] |"
done
listen="127.0.0.1:${ports[6]}"
echo "333 $listen  # box 333 on host-b" >"$host_a/VM/config/msg_routes"
echo "host-a's routes: $(cat "$host_a/VM/config/msg_routes")"

say "vmpropd for box 333 on host-b, on TCP $listen"
"$vmpropd" --root "$host_b" --box 333 --listen "$listen" &
pids+=($!)
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/${ports[6]}") 2>/dev/null && break
  sleep 0.1
done

say "Box 1 saves a class-of-service set; box 333 writes the record"
run "$host_a" 1 props put --cos 1 "COS Greeting Length" 45 --index 1
run "$host_a" 1 props show --cos 1
run "$host_b" 333 props show --cos 1

say "One etcd member killed: the cluster keeps its majority and the next save goes through"
kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null || true
echo "member m0 (pid ${pids[0]}) stopped"
run "$host_a" 1 props put --cos 1 "COS Greeting Length" 50 --index 1
run "$host_b" 333 props show --cos 1
run "$host_a" 1 index status
echo
echo "cluster-demo: done; stopping everything it started"
