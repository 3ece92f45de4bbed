#!/usr/bin/env bash
# The doors between network namespaces made here: "lan" (an office computer),
# "server" (where velora runs) and "provider", at the end of a veth pair that
# a command entry raises. Mode "nft": velora runs as root and keeps its
# firewall guard; mode "plain": velora runs without the right to change the
# firewall, so only its own check stands. Everything made here goes again on
# exit. Exit 77 (skipped) where namespaces cannot be made or a tool is missing.
set -u
test_binary="$1"
mode="$2"

. "$(dirname "$0")/netns_lib.sh"
netns_require nft socat setpriv

id="$(netns_id)"
lan_ns="velora-l-$id"
server_ns="velora-s-$id"
provider_ns="velora-p-$id"

cleanup() { netns_cleanup "$lan_ns" "$server_ns" "$provider_ns"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! ip netns add "$server_ns" 2>/dev/null; then
  echo "SKIP: ip netns add failed here"
  exit 77
fi
for ns in "$lan_ns" "$provider_ns"; do ip netns add "$ns" || exit 1; done
for ns in "$lan_ns" "$server_ns" "$provider_ns"; do ip -n "$ns" link set lo up || exit 1; done

# Made inside the server namespace with the peer moved at once into another
# of ours: the host's own links are never touched.
ip -n "$server_ns" link add "sl$id" type veth peer name "ls$id" netns "$lan_ns" || exit 1
ip -n "$server_ns" addr add 192.168.77.1/24 dev "sl$id" || exit 1
ip -n "$server_ns" link set "sl$id" up || exit 1
ip -n "$lan_ns" addr add 192.168.77.2/24 dev "ls$id" || exit 1
ip -n "$lan_ns" link set "ls$id" up || exit 1

# The dial-up link: its server end gets its address when the entry dials.
ip -n "$server_ns" link add "sp$id" type veth peer name "ps$id" netns "$provider_ns" || exit 1
ip -n "$provider_ns" addr add 198.18.1.1/30 dev "ps$id" || exit 1
ip -n "$provider_ns" link set "ps$id" up || exit 1

# The provider's mail server: a banner, then it waits for the caller.
ip netns exec "$provider_ns" socat TCP-LISTEN:2525,fork,reuseaddr SYSTEM:'echo 220 provider ESMTP; cat >/dev/null' &

VELORA_NS_LAN="$lan_ns" VELORA_NS_SERVER="$server_ns" VELORA_NS_PROVIDER="$provider_ns" \
VELORA_IF_LINE="sp$id" VELORA_DOORS_MODE="$mode" \
  ip netns exec "$server_ns" "$test_binary"
