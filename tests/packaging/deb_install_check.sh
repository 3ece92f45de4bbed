#!/usr/bin/env bash
# The Debian package in a clean Debian 12 root: debootstrap (minbase), then
# apt-get install --no-install-recommends of the package, then the headless
# server started there must create its log.db (the SQLite driver is a plugin
# that nothing links, so only the package's Depends bring it).
# Exit 77 (skipped, with the reason) without root, debootstrap or the mirror.
set -u
build=$1
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for debootstrap and chroot"
for tool in debootstrap cpack unshare chroot; do
  command -v $tool >/dev/null || skip "$tool not installed"
done
# The mirror apt uses here, else Debian's own.
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p; s/^deb \(http[^ ]*debian\) bookworm .*/\1/p' \
           /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null | head -1)
mirror=${mirror:-http://deb.debian.org/debian}
command -v curl >/dev/null && { curl -fsI --max-time 15 "$mirror/dists/bookworm/Release" >/dev/null ||
  skip "the package mirror $mirror cannot be reached"; }

# The clean root is made once per build tree and kept as a tarball; the
# downloaded packages are kept too, so a second run needs no network for them.
cache=$build/tests/packaging/debian12
mkdir -p "$cache/archives"
if [ ! -f "$cache/minbase.tgz" ]; then
  debootstrap --variant=minbase --make-tarball="$cache/minbase.tgz.part" bookworm "$cache/tarball-work" "$mirror" \
    >"$cache/debootstrap.log" 2>&1 || { tail -20 "$cache/debootstrap.log"; rm -rf "$cache/tarball-work";
                                         skip "debootstrap could not fetch from $mirror"; }
  mv "$cache/minbase.tgz.part" "$cache/minbase.tgz"
  rm -rf "$cache/tarball-work"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$build" && cpack -G DEB -B "$tmp/out" --config CPackConfig.cmake) >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/out/velora_*.deb | head -1)
root=$tmp/root
debootstrap --variant=minbase --unpack-tarball="$cache/minbase.tgz" bookworm "$root" "$mirror" \
  >"$tmp/unpack.log" 2>&1 || { tail -20 "$tmp/unpack.log"; echo "FAIL: the clean root could not be made"; exit 1; }
echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
cp "$deb" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null

# A mount namespace of its own: /proc and the package cache go away with it.
unshare --mount --fork bash -s "$root" "$cache/archives" "$(basename "$deb")" <<'INSIDE'
set -u
root=$1 archives=$2 deb=$3
mount -t proc proc "$root/proc"
mount --bind "$archives" "$root/var/cache/apt/archives"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_root apt-get update -q >/tmp/velora-deb-update.log 2>&1 || { tail -5 /tmp/velora-deb-update.log; exit 3; }
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "/tmp/$deb" \
  >"$root/tmp/install.log" 2>&1 || { tail -30 "$root/tmp/install.log"; echo "FAIL: the package does not install"; exit 1; }
mkdir -p "$root/tmp/base"
# In a network namespace of its own: the server listens on nothing of the host.
unshare --net chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  timeout 60 /usr/bin/velora --headless --no-shutdown --basedir /tmp/base >"$root/tmp/server.log" 2>&1 &
server=$!
for _ in $(seq 600); do
  [ -s "$root/tmp/base/config/log.db" ] && grep -q "online\|offline" "$root/tmp/server.log" && break
  kill -0 $server 2>/dev/null || break
  sleep 0.1
done
kill $server 2>/dev/null; wait $server 2>/dev/null
if [ ! -s "$root/tmp/base/config/log.db" ] || grep -qi "log is off\|driver not loaded\|QSQLITE" "$root/tmp/server.log"; then
  cat "$root/tmp/server.log"
  echo "FAIL: the installed server has no log.db"
  exit 1
fi
echo "installed in a clean Debian 12 root; the headless server created log.db"
INSIDE
rc=$?
[ $rc = 3 ] && skip "apt-get update in the clean root could not reach $mirror"
exit $rc
