#!/usr/bin/env bash
# Runs the command-line end-to-end test between two network namespaces made
# here: a "server" one where velora runs and a "provider" one at the other
# end of a veth pair. Everything made here goes again on exit, even after a
# failure. Exit 77 (skipped) where namespaces cannot be made.
set -u
test_binary="$1"

. "$(dirname "$0")/netns_lib.sh"
netns_require

id="$(netns_id)"
server_ns="velora-s-$id"
provider_ns="velora-p-$id"
server_if="vs$id"
provider_if="vp$id"

cleanup() { netns_cleanup "$server_ns" "$provider_ns"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! ip netns add "$server_ns" 2>/dev/null; then
  echo "SKIP: ip netns add failed here"
  exit 77
fi
ip netns add "$provider_ns" || exit 1
ip -n "$server_ns" link set lo up || exit 1
ip -n "$provider_ns" link set lo up || exit 1
# Made inside the server namespace with its peer in the provider's: the
# host's own links are never touched.
ip -n "$server_ns" link add "$server_if" type veth peer name "$provider_if" netns "$provider_ns" || exit 1
ip -n "$provider_ns" addr add 198.18.0.1/30 dev "$provider_if" || exit 1
ip -n "$provider_ns" link set "$provider_if" up || exit 1

VELORA_NETNS_SERVER="$server_ns" VELORA_NETNS_PROVIDER="$provider_ns" \
VELORA_NETNS_IFACE="$server_if" VELORA_NETNS_PEER=198.18.0.1 VELORA_NETNS_ADDR=198.18.0.2 \
  ip netns exec "$server_ns" "$test_binary"
