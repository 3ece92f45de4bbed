# Shared by the namespace tests: what they need, and the clean-up that ends
# only the processes inside the test's own namespaces, by their ids, and
# deletes those namespaces. Sourced, not run.

# Exits 77 (skipped) unless root and the given tools are here.
netns_require() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: network namespaces need root"
    exit 77
  fi
  for tool in ip "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

# A short id for this run's names.
netns_id() {
  printf '%04x%04x' $(($$ % 65536)) $((RANDOM % 65536))
}

netns_cleanup() {
  for ns in "$@"; do
    ip netns list 2>/dev/null | grep -qw "$ns" || continue
    pids="$(ip netns pids "$ns" 2>/dev/null)"
    [ -n "$pids" ] && kill -TERM $pids 2>/dev/null
    for _ in $(seq 30); do
      [ -z "$(ip netns pids "$ns" 2>/dev/null)" ] && break
      sleep 0.1
    done
    pids="$(ip netns pids "$ns" 2>/dev/null)"
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
    ip netns delete "$ns" 2>/dev/null
  done
}
