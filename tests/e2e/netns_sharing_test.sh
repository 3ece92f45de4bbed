#!/usr/bin/env bash
# Connection sharing and the SMTP relay between network namespaces made here:
# "lan" (an office computer), "server" (where velora runs) and two providers,
# each at the end of a veth pair that a command entry brings up. Provider one
# also has a link that stays up, where its mail server listens. Everything
# made here goes again on exit. Exit 77 (skipped) where namespaces cannot be
# made or a tool is missing.
set -u
test_binary="$1"
sink_script="$(dirname "$0")/smtp_sink.py"

. "$(dirname "$0")/netns_lib.sh"
netns_require nft socat swaks /usr/bin/python3
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || { echo "SKIP: python3-aiosmtpd is not installed"; exit 77; }

id="$(netns_id)"
lan_ns="velora-l-$id"
server_ns="velora-s-$id"
one_ns="velora-1-$id"
two_ns="velora-2-$id"
mail_dir="$(mktemp -d)"

cleanup() {
  netns_cleanup "$lan_ns" "$server_ns" "$one_ns" "$two_ns"
  rm -rf "$mail_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! ip netns add "$server_ns" 2>/dev/null; then
  echo "SKIP: ip netns add failed here"
  exit 77
fi
for ns in "$lan_ns" "$one_ns" "$two_ns"; do ip netns add "$ns" || exit 1; done
for ns in "$lan_ns" "$server_ns" "$one_ns" "$two_ns"; do ip -n "$ns" link set lo up || exit 1; done

# Every link is made inside the server namespace with its peer moved at once
# into another of ours: the host's own links are never touched.
ip -n "$server_ns" link add "sl$id" type veth peer name "ls$id" netns "$lan_ns" || exit 1
ip -n "$server_ns" addr add 192.168.77.1/24 dev "sl$id" || exit 1
ip -n "$server_ns" link set "sl$id" up || exit 1
ip -n "$lan_ns" addr add 192.168.77.2/24 dev "ls$id" || exit 1
ip -n "$lan_ns" link set "ls$id" up || exit 1
ip -n "$lan_ns" route add default via 192.168.77.1 || exit 1

# The dial-up links: down until an entry's connect command raises them.
ip -n "$server_ns" link add "s1$id" type veth peer name "p1$id" netns "$one_ns" || exit 1
ip -n "$one_ns" addr add 198.18.1.1/30 dev "p1$id" || exit 1
ip -n "$one_ns" link set "p1$id" up || exit 1
ip -n "$server_ns" link add "s2$id" type veth peer name "p2$id" netns "$two_ns" || exit 1
ip -n "$two_ns" addr add 198.18.2.1/30 dev "p2$id" || exit 1
ip -n "$two_ns" link set "p2$id" up || exit 1

# Provider one's mail link, up all the time.
ip -n "$server_ns" link add "sm$id" type veth peer name "pm$id" netns "$one_ns" || exit 1
ip -n "$server_ns" addr add 198.18.9.2/30 dev "sm$id" || exit 1
ip -n "$server_ns" link set "sm$id" up || exit 1
ip -n "$one_ns" addr add 198.18.9.1/30 dev "pm$id" || exit 1
ip -n "$one_ns" link set "pm$id" up || exit 1

# Each provider answers a connection with the address it came from.
for ns in "$one_ns" "$two_ns"; do
  ip netns exec "$ns" socat TCP-LISTEN:7000,fork,reuseaddr SYSTEM:'echo $SOCAT_PEERADDR' &
done
# The mail server waits for its address: the veth end comes up a moment later.
for _ in $(seq 50); do
  ip -n "$one_ns" -4 addr show dev "pm$id" | grep -q 'inet ' && ip -n "$one_ns" link show "pm$id" | grep -q 'state UP' && break
  sleep 0.1
done
ip netns exec "$one_ns" /usr/bin/python3 "$sink_script" 198.18.9.1 2525 "$mail_dir" &

VELORA_NS_LAN="$lan_ns" VELORA_NS_SERVER="$server_ns" VELORA_NS_ONE="$one_ns" VELORA_NS_TWO="$two_ns" \
VELORA_IF_ONE="s1$id" VELORA_IF_TWO="s2$id" VELORA_MAIL_DIR="$mail_dir" \
  ip netns exec "$server_ns" "$test_binary"
