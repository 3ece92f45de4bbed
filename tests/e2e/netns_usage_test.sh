#!/usr/bin/env bash
# Usage by computer between network namespaces made here: two office
# computers ("a" and "b", each on its own link to the server), the server's
# namespace where velora runs, and a provider at the end of a veth pair that
# the entry's command brings up. Links carry 9000-byte frames so that the
# IP and TCP headers, which the line counts too, stay well under 1 % of what
# is sent. Everything made here goes again on exit. Exit 77 (skipped) where
# namespaces cannot be made or a tool is missing.
set -u
test_binary="$1"

. "$(dirname "$0")/netns_lib.sh"
netns_require nft socat

id="$(netns_id)"
a_ns="velora-ua-$id"
b_ns="velora-ub-$id"
server_ns="velora-us-$id"
isp_ns="velora-up-$id"

cleanup() { netns_cleanup "$a_ns" "$b_ns" "$server_ns" "$isp_ns"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! ip netns add "$server_ns" 2>/dev/null; then
  echo "SKIP: ip netns add failed here"
  exit 77
fi
for ns in "$a_ns" "$b_ns" "$isp_ns"; do ip netns add "$ns" || exit 1; done
for ns in "$a_ns" "$b_ns" "$server_ns" "$isp_ns"; do ip -n "$ns" link set lo up || exit 1; done

# Each link is made inside the server namespace, its peer moved at once into
# another of ours: the host's own links are never touched.
office() {  # namespace, link suffix, subnet's third octet
  ip -n "$server_ns" link add "s$2$id" type veth peer name "o$2$id" netns "$1" || exit 1
  ip -n "$server_ns" addr add "192.168.$3.1/24" dev "s$2$id" || exit 1
  ip -n "$server_ns" link set "s$2$id" mtu 9000 up || exit 1
  ip -n "$1" addr add "192.168.$3.2/24" dev "o$2$id" || exit 1
  ip -n "$1" link set "o$2$id" mtu 9000 up || exit 1
  ip -n "$1" route add default via "192.168.$3.1" || exit 1
}
office "$a_ns" a 81
office "$b_ns" b 82

# The dial-up link: down until the entry's connect command raises it.
ip -n "$server_ns" link add "sp$id" type veth peer name "ps$id" netns "$isp_ns" || exit 1
ip -n "$server_ns" link set "sp$id" mtu 9000 || exit 1
ip -n "$isp_ns" addr add 198.18.5.1/30 dev "ps$id" || exit 1
ip -n "$isp_ns" link set "ps$id" mtu 9000 up || exit 1

# The provider swallows whatever comes.
ip netns exec "$isp_ns" socat -u TCP-LISTEN:7001,fork,reuseaddr OPEN:/dev/null &

VELORA_NS_A="$a_ns" VELORA_NS_B="$b_ns" VELORA_IF_LINE="sp$id" \
  ip netns exec "$server_ns" "$test_binary"
