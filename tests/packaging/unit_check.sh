#!/usr/bin/env bash
# The unit velora -INSTALL writes for the default base dir is the packaged one,
# and systemd accepts both and rates their exposure at most 3.5 (where
# systemd-analyze exists). A base dir a unit cannot carry is refused.
set -u
velora=$1 packaged=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

mkdir "$tmp/units"
env -u VELORA_BASEDIR VELORA_UNIT_DIR="$tmp/units" "$velora" -INSTALL -SILENT || bad "-INSTALL failed"
written=$tmp/units/VLOOSERVER.service
[ -f "$written" ] || { echo "FAIL: no unit written"; exit 1; }
grep -qx "ExecStart=\"$velora\" --service --headless --basedir \"/var/lib/velora\"" "$written" ||
  bad "ExecStart of the written unit: $(grep ExecStart "$written")"
# The same unit but for the program's path and quoting.
diff <(grep -v '^ExecStart=' "$written") <(grep -v '^ExecStart=' "$packaged") || bad "written and packaged units differ"
grep -q '^ExecStart=/.*/velora --service --headless --basedir /var/lib/velora$' "$packaged" ||
  bad "packaged ExecStart: $(grep ExecStart "$packaged")"

# Specifiers and "$" are escaped; a line break cannot be carried at all.
odd="$tmp/a b%x\$y"
env VELORA_UNIT_DIR="$tmp/units" "$velora" -INSTALL -SILENT --basedir "$odd" || bad "-INSTALL with $odd failed"
grep -qxF "ExecStart=\"$velora\" --service --headless --basedir \"$tmp/a b%%x\$\$y\"" "$written" ||
  bad "ExecStart for $odd: $(grep ExecStart "$written")"
grep -qxF "ReadWritePaths=\"$tmp/a b%%x\$y\" -/etc/ppp /run -/etc/resolv.conf" "$written" ||
  bad "ReadWritePaths for $odd: $(grep ReadWritePaths "$written")"
[ -d "$odd" ] || bad "-INSTALL did not make the base dir $odd"
mkdir "$tmp/odd" && cp "$written" "$tmp/odd/VLOOSERVER.service"
out=$(env VELORA_UNIT_DIR="$tmp/units" "$velora" -INSTALL --basedir "$tmp/line
break" 2>&1) && bad "-INSTALL took a base dir with a line break"
case $out in *"line break"*) ;; *) bad "no reason given for the line break: $out" ;; esac
env -u VELORA_BASEDIR VELORA_UNIT_DIR="$tmp/units" "$velora" -INSTALL -SILENT || bad "-INSTALL failed"

if command -v systemd-analyze >/dev/null; then
  # verify wants ExecStart's program to exist: check the packaged text against this build's program.
  sed "s|^ExecStart=[^ ]*|ExecStart=$velora|" "$packaged" >"$tmp/VLOOSERVER.service"
  for unit in "$written" "$tmp/VLOOSERVER.service" "$tmp/odd/VLOOSERVER.service"; do
    # The man page is not installed on the machine running the test.
    out=$(systemd-analyze verify --man=no "$unit" 2>&1)
    # Complaints about other units of this machine are not ours.
    mine=$(printf '%s\n' "$out" | grep -i 'VLOOSERVER' || true)
    [ -z "$mine" ] || bad "systemd-analyze verify $unit: $mine"
    # The confinement, rated without a running systemd.
    score=$(systemd-analyze security --offline=yes "$unit" 2>/dev/null |
      sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    echo "exposure of $(basename "$unit"): ${score:-none}"
    [ -n "$score" ] && awk -v s="$score" 'BEGIN { exit !(s <= 3.5) }' ||
      bad "exposure ${score:-unknown} of $unit is over 3.5"
  done
else
  echo "systemd-analyze not installed: units not verified"
fi
[ $fail = 0 ] && echo "unit check passed"
exit $fail
