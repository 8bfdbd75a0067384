#!/usr/bin/python3
# Sets the network configuration of one Velantrix LAN interface (KP-CFG-LAN) through
# "lancfg apply --json": a field left out keeps the device's value, a device that already holds
# the wanted values is not written to, and check mode asks "lancfg apply --dry-run".

DOCUMENTATION = r'''
module: lan_interface
short_description: Network configuration of one Velantrix LAN interface
description:
  - Reads the device's stored configuration and writes it only where it differs from the
    options given, with one write of the whole configuration. Runs C(lancfg apply --json) on
    the managed host; the device must answer there.
  - Supports check mode, which writes nothing and tells whether a write would happen.
options:
  serial:
    description: Serial number of the device, such as KPL0000001.
    required: true
    type: str
  ip:
    description: Static IPv4 address.
    type: str
  netmask:
    description: Static netmask.
    type: str
  gateway:
    description: Static gateway.
    type: str
  dhcp:
    description: Whether the device takes its address by DHCP.
    type: bool
  encryption:
    description: Whether the device's LAN traffic is encrypted.
    type: bool
  key_file:
    description:
      - File whose first line is the device's key (32 hexadecimal digits). It is handed to
        lancfg on standard input, never on a command line. Without it lancfg uses
        LANCFG_KEY or the user's keys file.
    type: path
'''

EXAMPLES = r'''
- name: Static address for the hall's interface
  lan_interface:
    serial: KPL0000002
    ip: 192.168.1.62
    netmask: 255.255.255.0
    dhcp: false
    key_file: /etc/velantrix/KPL0000002.key
'''

RETURN = r'''
changes:
  description: Per field that differs, the device's value and the new one.
  returned: always
  type: dict
result:
  description: What lancfg said of the device (unchanged, changed, wouldChange, ...).
  returned: always
  type: str
'''

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(
            serial=dict(type='str', required=True),
            ip=dict(type='str'),
            netmask=dict(type='str'),
            gateway=dict(type='str'),
            dhcp=dict(type='bool'),
            encryption=dict(type='bool'),
            key_file=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    entry = {'serialNumber': p['serial']}
    for name in ('ip', 'netmask', 'gateway', 'dhcp', 'encryption'):
        if p[name] is not None:
            entry[name] = p[name]

    lancfg = module.get_bin_path('lancfg', required=True)
    command = [lancfg, 'apply', None, '--json']
    if module.check_mode:
        command.append('--dry-run')
    key = None
    if p['key_file']:
        try:
            with open(p['key_file']) as f:
                key = f.readline().strip()
        except OSError as e:
            module.fail_json(msg='cannot read key_file %s: %s' % (p['key_file'], e))
        command += ['-k', '-']

    fd, plan = tempfile.mkstemp(prefix='lan_interface', suffix='.json')
    try:
        with os.fdopen(fd, 'w') as f:
            json.dump([entry], f)
        command[2] = plan
        rc, out, err = module.run_command(command, data=key if key is not None else '')
    finally:
        os.unlink(plan)

    try:
        element = json.loads(out)[0] if rc in (0, 254, 255) and out.strip() else None
    except (ValueError, IndexError):
        element = None
    if element is None:
        module.fail_json(msg=err.strip() or 'lancfg apply gave no answer', rc=rc)
    result = element.get('result')
    changes = element.get('changes', {})
    if result in ('unchanged', 'changed', 'wouldChange'):
        module.exit_json(changed=result != 'unchanged', result=result, changes=changes)
    messages = {
        'notFound': 'LAN interface %s not found' % p['serial'],
        'keyError': 'LAN interface %s wants its key, or rejected the one given' % p['serial'],
    }
    module.fail_json(msg=messages.get(result, element.get('reason', 'the write failed')),
                     result=result, changes=changes, rc=rc)


if __name__ == '__main__':
    main()
