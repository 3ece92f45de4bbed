#!/usr/bin/env bash
# The unit velora -INSTALL writes for the default base dir is the packaged one,
# and systemd accepts both (where systemd-analyze exists).
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

if command -v systemd-analyze >/dev/null; then
  # verify wants ExecStart's program to exist: check the packaged text against this build's program.
  sed "s|^ExecStart=[^ ]*|ExecStart=$velora|" "$packaged" >"$tmp/VLOOSERVER.service"
  for unit in "$written" "$tmp/VLOOSERVER.service"; do
    # The man page is not installed on the machine running the test.
    out=$(systemd-analyze verify --man=no "$unit" 2>&1)
    # Complaints about other units of this machine are not ours.
    mine=$(printf '%s\n' "$out" | grep -i 'VLOOSERVER' || true)
    [ -z "$mine" ] || bad "systemd-analyze verify $unit: $mine"
  done
else
  echo "systemd-analyze not installed: units not verified"
fi
[ $fail = 0 ] && echo "unit check passed"
exit $fail
