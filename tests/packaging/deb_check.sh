#!/usr/bin/env bash
# The Debian package: built by cpack, unpacked with dpkg -x into a temporary
# root, its files and control fields checked, its velora run from there.
set -u
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "$tool not installed: skipped"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

(cd "$build" && cpack -G DEB -B "$tmp/out" --config CPackConfig.cmake) >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/out/velora_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { cat "$tmp/cpack.log"; echo "FAIL: no .deb made"; exit 1; }

dpkg-deb -c "$deb" >"$tmp/list"
for f in usr/bin/velora usr/bin/velora-client usr/share/applications/velora.desktop \
         usr/share/applications/velora-client.desktop usr/share/icons/hicolor/scalable/apps/velora.svg \
         usr/share/man/man1/velora.1.gz usr/share/man/man1/velora-client.1.gz \
         usr/lib/systemd/system/VLOOSERVER.service usr/share/velora/notify.wav \
         usr/share/metainfo/org.velora.server.metainfo.xml usr/share/doc/velora/copyright \
         usr/share/doc/velora/changelog.gz; do
  grep -q " \./$f\$" "$tmp/list" || bad "not in the package: $f"
done

field() { dpkg-deb -f "$deb" "$1"; }
case "$(field Depends)" in *libqt6core6*) ;; *) bad "Depends not from the binaries: $(field Depends)";; esac
# Plugins nothing links: the log is off without its SQLite driver.
for plugin in libqt6sql6-sqlite libqt6gui6 libqt6multimedia6; do
  case ", $(field Depends)," in *", $plugin"[\ ,]*) ;; *) bad "Depends lacks $plugin: $(field Depends)";; esac
done
[ "$(field Recommends)" = "ppp, nftables" ] || bad "Recommends: $(field Recommends)"
dpkg-deb -e "$deb" "$tmp/control"
scripts=$(cd "$tmp/control" && ls | grep -E '^(pre|post)(inst|rm)$')
[ -z "$scripts" ] || bad "maintainer scripts: $scripts"

dpkg -x "$deb" "$tmp/root"
grep -q '^ExecStart=/usr/bin/velora ' "$tmp/root/usr/lib/systemd/system/VLOOSERVER.service" ||
  bad "unit does not start /usr/bin/velora"
want="velora $(field Version)"
out=$("$tmp/root/usr/bin/velora" --version) || bad "unpacked velora --version failed"
[ "$(head -1 <<<"$out")" = "$want" ] || bad "unpacked velora --version printed '$out', want '$want'"
grep -q '^License: GPL-3+$' "$tmp/root/usr/share/doc/velora/copyright" || bad "copyright names no GPL-3+"
# lintian, where installed, has nothing to say about the copyright file.
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$tmp/lintian" 2>&1
  ! grep -i 'copyright' "$tmp/lintian" || bad "lintian on the copyright (above)"
fi
"$tmp/root/usr/bin/velora-client" --version >/dev/null || bad "unpacked velora-client --version failed"
[ $fail = 0 ] && echo "deb check passed ($(basename "$deb"))"
exit $fail
