#!/usr/bin/python3
# The Velantrix LAN interfaces (KP-CFG-LAN) a managed host sees, with the ones it saw before and
# that no longer answer, as facts: "lancfg list --known --json" on the managed host.

DOCUMENTATION = r'''
module: lan_interface_facts
short_description: The LAN interfaces a host finds and remembers, as facts
description:
  - Searches the local networks of the managed host for LAN interfaces (or the addresses
    given), as C(lancfg list --known --json) does, and sets the fact C(lan_interfaces) to one
    dictionary per device, the devices that answered first, then the remembered ones that did
    not. Each dictionary has serialNumber, version, state (C(offline) for a device that did
    not answer), address, network, online, lastSeen and firstSeen; a running device that
    answered also has ip, netmask, gateway, dhcp and encryption.
  - Changes nothing on the devices; the search is remembered in the inventory of the user the
    task runs as. Supports check mode.
options:
  address:
    description: Addresses or ranges (A.B.C.D/NN) to ask instead of the local networks.
    type: list
    elements: str
'''

EXAMPLES = r'''
- lan_interface_facts:
- debug:
    msg: "{{ lan_interfaces | rejectattr('online') | map(attribute='serialNumber') | list }}"
'''

RETURN = r'''
ansible_facts:
  description: lan_interfaces, the list of devices.
  returned: always
  type: dict
'''

import json

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(address=dict(type='list', elements='str')),
        supports_check_mode=True,
    )
    lancfg = module.get_bin_path('lancfg', required=True)
    command = [lancfg, 'list', '--known', '--json']
    for address in module.params['address'] or []:
        command += ['-a', address]
    rc, out, err = module.run_command(command)
    try:
        devices = json.loads(out) if rc == 0 else None
    except ValueError:
        devices = None
    if not isinstance(devices, list):
        module.fail_json(msg=err.strip() or 'lancfg list gave no answer', rc=rc)
    module.exit_json(changed=False, ansible_facts=dict(lan_interfaces=devices))


if __name__ == '__main__':
    main()
