#!/usr/bin/env bash
# cmake --install into a temporary prefix: the files a user's system gets,
# nothing of the tests, valid desktop/AppStream/man files, programs that run.
set -u
build=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

prefix=$tmp/usr
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }

expected=(
  bin/velora bin/velora-client
  share/applications/velora.desktop share/applications/velora-client.desktop
  share/icons/hicolor/scalable/apps/velora.svg share/icons/hicolor/scalable/apps/velora-client.svg
  share/icons/hicolor/scalable/status/velora-offline.svg
  share/icons/hicolor/scalable/status/velora-dialing.svg
  share/icons/hicolor/scalable/status/velora-online.svg
  share/metainfo/org.velora.server.metainfo.xml share/metainfo/org.velora.client.metainfo.xml
  share/velora/notify.wav share/velora/client/tip.cfg
  share/velora/demo/config/config.ini share/velora/demo/config/phonebook.ini
  lib/systemd/system/VLOOSERVER.service
)
for f in "${expected[@]}"; do
  [ -f "$prefix/$f" ] || bad "not installed: $f"
done
for page in velora velora-client; do
  ls "$prefix"/share/man/man1/$page.1* >/dev/null 2>&1 || bad "no man page $page(1)"
done
# Only the two programs in bin, and nothing from the tests anywhere.
extra=$(cd "$prefix/bin" && ls | grep -vx -e velora -e velora-client)
[ -z "$extra" ] || bad "unexpected in bin: $extra"
stray=$(find "$prefix" -iname '*test*' -o -iname '*fake*' -o -iname '*bench*')
[ -z "$stray" ] || bad "test files installed: $stray"

# The installed programs answer from their new home.
want="velora $(sed -n 's/^project(velora VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
out=$("$prefix/bin/velora" --version) || bad "velora --version failed"
[ "$(head -1 <<<"$out")" = "$want" ] || bad "velora --version printed '$out', want '$want'"
grep -q '^License GPL-3.0-or-later' <<<"$out" || bad "velora --version names no licence: '$out'"
out=$("$prefix/bin/velora-client" --version) || bad "velora-client --version failed"
[ "$(head -1 <<<"$out")" = "velora-client ${want#velora }" ] || bad "velora-client --version printed '$out'"
grep -q '^License GPL-3.0-or-later' <<<"$out" || bad "velora-client --version names no licence: '$out'"
for opt in --basedir --headless --service --no-shutdown -INSTALL -UNINSTALL -SILENT --report --version --help; do
  "$prefix/bin/velora" --help | grep -q -- "  $opt" || bad "velora --help misses $opt"
done
for opt in --clientdir --host --port --user --password --timeout --status --dial --hangup --version --help; do
  "$prefix/bin/velora-client" --help | grep -q -- "  $opt" || bad "velora-client --help misses $opt"
done

"$prefix/bin/velora" --frob >/dev/null 2>&1; rc=$?
[ $rc = 2 ] || bad "velora --frob exited $rc, want 2"
"$prefix/bin/velora-client" --frob >/dev/null 2>&1; rc=$?
[ $rc = 1 ] || bad "velora-client --frob exited $rc, want 1"
for cmd in "user list" "user add NAME" "user passwd NAME" "user delete NAME" "entry list" "entry rename OLD NEW" \
           "entry delete NAME" "entry cost NAME"; do
  "$prefix/bin/velora" --help | grep -q -- "^  $cmd " || bad "velora --help misses the command $cmd"
done

# The installed sound is found by the installed program's lookup (share/velora beside bin).
[ -f "$prefix/bin/../share/velora/notify.wav" ] || bad "notify.wav not beside bin/../share/velora"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix"/share/applications/*.desktop || bad "desktop-file-validate"
else
  echo "desktop-file-validate not installed: desktop files not validated"
fi
for icon in $(grep -h '^Icon=' "$prefix"/share/applications/*.desktop | cut -d= -f2); do
  [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || bad "desktop icon $icon not installed"
done
if command -v appstream-util >/dev/null; then
  appstream-util validate-relax --nonet "$prefix"/share/metainfo/*.xml || bad "appstream-util validate-relax"
elif command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix"/share/metainfo/*.xml || bad "appstreamcli validate"
else
  echo "no AppStream validator installed: metainfo not validated"
fi
if command -v xmllint >/dev/null; then
  xmllint --noout "$prefix"/share/icons/hicolor/scalable/*/velora*.svg || bad "an icon is not well-formed"
fi
if command -v man >/dev/null; then
  for page in "$prefix"/share/man/man1/velora*.1*; do
    warn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warn" ] || bad "man -l $page: $warn"
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q -- '--version' || bad "$page does not render --version"
  done
fi
[ $fail = 0 ] && echo "install check passed"
exit $fail
