#!/usr/bin/env bash
# Checks the deployment units with systemd-analyze verify, in a scratch root that holds the
# built velkdesk where the units expect it. Run by CTest (desk_deploy_units).
#   verify.sh PATH-TO-VELKDESK
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is not installed"
    exit 77
fi
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/usr/local/bin" "$root/etc/systemd/system" "$root/usr/lib/systemd"
# The system's own units (the targets the units are ordered against).
cp -a /usr/lib/systemd/system "$root/usr/lib/systemd/"
cp "$1" "$root/usr/local/bin/velkdesk"
cp "$here"/velkdesk-serve.service "$here"/velkdesk-import.service "$here"/velkdesk-import.path \
   "$here"/velkdesk-import.timer "$root/etc/systemd/system/"
# Any finding, even one systemd only warns about, fails the check.
out=$(cd "$root/etc/systemd/system" && SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --root="$root" \
      velkdesk-serve.service velkdesk-import.service velkdesk-import.path velkdesk-import.timer 2>&1) || {
    echo "$out"
    exit 1
}
if [ -n "$out" ]; then
    echo "$out"
    exit 1
fi
echo "units verified"
