#!/usr/bin/env bash
# The Ansible modules against simulated devices, inside the private network namespace the test
# runs in: check mode writes nothing, the first run changes the device, the second run does not;
# the facts name the devices found, and the firmware task updates only the device that runs
# another version (check mode names it and sends nothing).
# Arguments: the folder of the built programs, the source folder.
set -euo pipefail
bin=$1
src=$2
if ! command -v ansible-playbook >/dev/null; then
    echo "ansible-playbook is missing (Debian package ansible-core): test skipped"
    exit 77
fi
work=$(mktemp -d)
sim=""
cleanup() {
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/devices.ini" <<EOF
[encrypted]
serial = KPL0000002
version = 1240
key = 000102030405060708090A0B0C0D0E0F
crypt = 1
writeConfigCode = 2
restartSilenceMs = 300
currentIp = 192.168.1.52
staticIp = 192.168.1.52

[older]
serial = KPL0000005
version = 1234
bootloaderCode = 2
restartSilenceMs = 300
restartAfterBlock = 1
versionAfterUpdate = 1240
EOF
echo 000102030405060708090A0B0C0D0E0F >"$work/KPL0000002.key"
echo 0003A1B2C30002d4e5 >"$work/kplan_1240.enc" # two records
cat >"$work/play.yml" <<EOF
- hosts: localhost
  gather_facts: false
  tasks:
    - lan_interface:
        serial: KPL0000002
        ip: 192.168.1.62
        dhcp: false
        key_file: $work/KPL0000002.key
EOF
cat >"$work/firmware.yml" <<EOF
- hosts: localhost
  gather_facts: false
  tasks:
    - lan_interface_facts:
    - assert:
        that: "'KPL0000005' in (lan_interfaces | map(attribute='serialNumber'))"
    - lan_interface_firmware:
        all: true
        firmware: $work/kplan_1240.enc
        expect_version: "1.240"
      register: fw
    - debug:
        msg: "updated=[{{ (fw.would_update if ansible_check_mode else fw.updated) | join(',') }}]"
EOF

"$bin/lanif-sim" -c "$work/devices.ini" &
sim=$!
export PATH="$bin:$PATH" HOME="$work" XDG_CONFIG_HOME="$work" ANSIBLE_LIBRARY="$src/packaging/ansible/library"
export ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TEMP="$work/tmp" ANSIBLE_NOCOLOR=1
for _ in $(seq 50); do
    lancfg list 2>/dev/null | grep -q KPL0000002 && break
    sleep 0.1
done

# play [firmware] [ansible-playbook options]: the play's changed count.
play() {
    local book=$work/play.yml
    if [ "${1:-}" = firmware ]; then book=$work/firmware.yml; shift; fi
    ansible-playbook -i localhost, -c local -e ansible_python_interpreter=/usr/bin/python3 \
        "$@" "$book" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
    grep -o 'changed=[0-9]*' "$work/out" | head -1
}
updated() { grep -o 'updated=\[[^]]*\]' "$work/out" | head -1; }
version() {
    lancfg list --json | python3 -c 'import json,sys
print([d["version"] for d in json.load(sys.stdin) if d["serialNumber"] == "KPL0000005"][0])'
}
ip() { lancfg show KPL0000002 --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["ip"])'; }

fail() { echo "FAILED: $*"; cat "$work/out"; exit 1; }
[ "$(play --check)" = changed=1 ] || fail "check mode should report a change"
[ "$(ip)" = 192.168.1.52 ] || fail "check mode wrote to the device"
[ "$(play)" = changed=1 ] || fail "the first run should change the device"
sleep 0.5 # the device restarts to apply it
[ "$(ip)" = 192.168.1.62 ] || fail "the first run did not write the address"
[ "$(play)" = changed=0 ] || fail "the second run should change nothing"

[ "$(play firmware --check)" = changed=1 ] || fail "firmware check mode should report a change"
[ "$(updated)" = "updated=[KPL0000005]" ] || fail "check mode should name the device to update"
[ "$(version)" = 1.234 ] || fail "check mode updated the device"
[ "$(play firmware)" = changed=1 ] || fail "the firmware run should update the device"
[ "$(updated)" = "updated=[KPL0000005]" ] || fail "only the device on another version is updated"
[ "$(version)" = 1.240 ] || fail "the device does not run the new version"
[ "$(play firmware)" = changed=0 ] || fail "a second firmware run should change nothing"
[ "$(updated)" = "updated=[]" ] || fail "a second firmware run should update nothing"
echo "check mode, first and second run as expected, for the configuration and the firmware"
