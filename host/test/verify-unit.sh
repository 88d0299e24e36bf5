#!/usr/bin/env bash
# Checks the systemd unit as systemd reads it: verify [systemd-analyze] [unit] [zunservice binary].
# The installed program is not there yet, so the copy that is checked runs the one just built.
set -euo pipefail
analyze=$1 unit=$2 program=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|^ExecStart=[^ ]*|ExecStart=$program|" "$unit" >"$dir/zunservice.service"
out=$("$analyze" verify --man=no "$dir/zunservice.service" 2>&1) || { echo "$out"; exit 1; }
# verify reports some faults without failing; any line about the unit is one.
if grep -q "zunservice.service" <<<"$out"; then
  echo "$out"
  exit 1
fi
echo "zunservice.service verified"
