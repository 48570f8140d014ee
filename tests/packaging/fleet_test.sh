#!/bin/bash
# The fleet playbook against an emulated host, run twice on this machine: the first run brings
# the card to the golden flash and configuration and reports changes, the second reports none.
#   fleet_test.sh PLAYBOOK BUNDLE_DIR SC820_HOST
set -eu
playbook=$1 utility="$(realpath "$2")/Contents/bin/sc820-utility" host_tool=$3
command -v ansible-playbook >/dev/null || { echo "ansible-playbook missing: scripts/setup.sh"; exit 77; }
# Ansible's workers take their locks as POSIX semaphores in /dev/shm; a root whose /dev/shm has
# no room (a bare chroot's small /dev) cannot run it at all, whatever the playbook does.
shm_free=$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
if [ "${shm_free:-0}" -lt 1024 ]; then
    echo "skipped: /dev/shm has ${shm_free:-no} KiB free; ansible needs room there"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SC820_HOST_ROOT="$work/host" XDG_STATE_HOME="$work/state" HOME="$work"
export ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_NOCOLOR=1
"$host_tool" init >/dev/null

# Golden files: a flash of its own pattern, and the card's configuration with parity off.
head -c 65536 /dev/urandom >"$work/golden-flash.bin"
"$utility" config export "$work/golden-config.json" --yes 2>"$work/export.log" ||
    { cat "$work/export.log" >&2; exit 1; }
sed -i 's/"parity": true/"parity": false/' "$work/golden-config.json"
grep -q '"parity": false' "$work/golden-config.json"

run() {
    ansible-playbook -c local -i "localhost," "$playbook" -e sc820_hosts=localhost \
        -e "{\"sc820_utility\": \"$utility\", \"sc820_work_dir\": \"$work/fleet\"}" \
        -e "{\"sc820_flash\": \"$work/golden-flash.bin\", \"sc820_config\": \"$work/golden-config.json\"}" \
        >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; exit 1; }
    grep -E '^localhost +:' "$work/run.log"
}
# The first run changes the work folder, the golden files (one looped task), the flash and the
# configuration; the second changes nothing.
for changed in 4 0; do
    recap=$(run)
    echo "$recap"
    [[ $recap =~ changed=$changed\ .*failed=0 ]] || { cat "$work/run.log"; echo "FAIL: not $changed changed"; exit 1; }
    "$host_tool" flash get "$work/now.bin" >/dev/null
    cmp "$work/now.bin" "$work/golden-flash.bin"
    "$host_tool" eeprom show | grep -qx "ParityEnable 0"
done
echo "ok"
