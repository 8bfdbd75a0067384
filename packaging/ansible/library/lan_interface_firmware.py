#!/usr/bin/python3
# Brings Velantrix LAN interfaces (KP-CFG-LAN) to one firmware version through "lancfg fwupdate
# --json": a device that already runs it is not touched, and the task is changed only when a
# device was updated. Check mode asks "lancfg list --json" which devices would be.

DOCUMENTATION = r'''
module: lan_interface_firmware
short_description: Firmware version of Velantrix LAN interfaces
description:
  - Updates the devices named, or every device a search finds, with a firmware file, unless a
    device already runs the expected version. Runs C(lancfg fwupdate ... --json --yes
    --expect-version V --skip-current) on the managed host; a device that comes back with
    another version counts as failed.
  - C(changed) is true when a device was updated; devices that were current are no change.
    The task fails when any device failed, was not found or wanted its key.
  - Supports check mode, which sends nothing to the devices and returns would_update, the
    devices whose version differs.
options:
  serials:
    description: Serial numbers of the devices to update. One of serials and all is needed.
    type: list
    elements: str
  all:
    description: Every device a search finds.
    type: bool
    default: false
  firmware:
    description: The firmware file on the managed host.
    required: true
    type: path
  expect_version:
    description: The version the firmware file brings, such as 1.240.
    required: true
    type: str
  jobs:
    description: How many devices are updated at once (1 to 1024).
    type: int
  key_file:
    description:
      - File whose first line is the devices' key (32 hexadecimal digits), handed to lancfg
        on standard input. Without it lancfg uses LANCFG_KEY or the user's keys file.
    type: path
  address:
    description: Addresses or ranges (A.B.C.D/NN) to ask instead of the local networks.
    type: list
    elements: str
'''

EXAMPLES = r'''
- name: Every interface of the site on 1.240
  lan_interface_firmware:
    all: true
    firmware: /srv/firmware/kplan_1240.enc
    expect_version: "1.240"
'''

RETURN = r'''
updated:
  description: Serial numbers of the devices updated.
  returned: when not in check mode
  type: list
current:
  description: Serial numbers of the devices that already ran the version.
  returned: always
  type: list
would_update:
  description: Serial numbers of the devices an update would touch.
  returned: in check mode
  type: list
results:
  description: lancfg's element of each device (serialNumber, result, version, reason, ...).
  returned: when not in check mode
  type: list
'''

import json

from ansible.module_utils.basic import AnsibleModule


def run_json(module, command, data=''):
    rc, out, err = module.run_command(command, data=data)
    try:
        return rc, json.loads(out), err
    except ValueError:
        return rc, None, err


def check(module, lancfg, addresses):
    p = module.params
    rc, devices, err = run_json(module, [lancfg, 'list', '--json'] + addresses)
    if rc != 0 or not isinstance(devices, list):
        module.fail_json(msg=err.strip() or 'lancfg list gave no answer', rc=rc)
    found = [d for d in devices if p['all'] or d.get('serialNumber') in p['serials']]
    would = [d['serialNumber'] for d in found if d.get('version') != p['expect_version']]
    current = [d['serialNumber'] for d in found if d.get('version') == p['expect_version']]
    missing = [] if p['all'] else \
        [s for s in p['serials'] if s not in [d.get('serialNumber') for d in found]]
    if missing:
        module.fail_json(msg='not found on LAN: %s' % ', '.join(missing), would_update=would,
                         current=current)
    module.exit_json(changed=bool(would), would_update=would, current=current)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            serials=dict(type='list', elements='str'),
            all=dict(type='bool', default=False),
            firmware=dict(type='path', required=True),
            expect_version=dict(type='str', required=True),
            jobs=dict(type='int'),
            key_file=dict(type='path'),
            address=dict(type='list', elements='str'),
        ),
        required_one_of=[('serials', 'all')],
        mutually_exclusive=[('serials', 'all')],
        supports_check_mode=True,
    )
    p = module.params
    if not p['all'] and not p['serials']:
        module.fail_json(msg='serials must name at least one device')
    lancfg = module.get_bin_path('lancfg', required=True)
    addresses = []
    for address in p['address'] or []:
        addresses += ['-a', address]
    if module.check_mode:
        check(module, lancfg, addresses)

    command = [lancfg, 'fwupdate'] + (['--all'] if p['all'] else list(p['serials']))
    command += ['-f', p['firmware'], '--json', '--yes', '--expect-version', p['expect_version'],
                '--skip-current'] + addresses
    if p['jobs'] is not None:
        command += ['-j', str(p['jobs'])]
    key = ''
    if p['key_file']:
        try:
            with open(p['key_file']) as f:
                key = f.readline().strip()
        except OSError as e:
            module.fail_json(msg='cannot read key_file %s: %s' % (p['key_file'], e))
        command += ['-k', '-']
    rc, results, err = run_json(module, command, data=key)
    if not isinstance(results, list):
        module.fail_json(msg=err.strip() or 'lancfg fwupdate gave no answer', rc=rc)

    def having(*words):
        return [r.get('serialNumber') for r in results if r.get('result') in words]
    # A device flashed is a change, even one that came back with its old version.
    updated = having('updated', 'sameVersion')
    current = having('current')
    failed = [r for r in results if r.get('result') not in ('updated', 'current')]
    if failed or rc != 0:
        module.fail_json(msg='; '.join('%s: %s' % (r.get('serialNumber'),
                                                   r.get('reason', r.get('result')))
                                       for r in failed) or err.strip(),
                         changed=bool(updated), updated=updated, current=current,
                         results=results, rc=rc)
    module.exit_json(changed=bool(updated), updated=updated, current=current, results=results)


if __name__ == '__main__':
    main()
