#!/usr/bin/env bash
# Runs the scenario of both windows on Xvfb through AT-SPI in a D-Bus session
# of its own. Exit 77 (skipped, with the reason) where the parts are missing.
set -u
build=$1 source=$2 out=$3
skip() { echo "SKIPPED: $*; scripts/setup installs what these tests need"; exit 77; }
for tool in Xvfb xdotool dbus-run-session; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "at-spi2-core is not installed"
# Debian's interpreter: its modules, not those of a python3 first on PATH.
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is not installed"
[ -x "$build/server/velora" ] || skip "no velora in $build"
[ -x "$build/client/velora-client" ] || skip "no velora-client in $build (built without the client)"
export PYTHONDONTWRITEBYTECODE=1
export PYTHONPATH="$source/tests/gui${PYTHONPATH:+:$PYTHONPATH}"
exec dbus-run-session -- /usr/bin/python3 "$source/tests/gui/first_hour.py" "$build" "$source" "$out"
