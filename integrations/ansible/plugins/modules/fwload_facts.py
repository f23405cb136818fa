#!/usr/bin/python
# -*- coding: utf-8 -*-
# Reads what a unit runs through `fwload identify`, changing nothing.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: fwload_facts
short_description: Read what a station or switch runs
description:
  - Asks one unit, through C(fwload identify) on the site's loader PC, which product
    and board it is and which firmware and boot monitor it runs.
  - Changes nothing on the unit; runs in check mode as in normal mode.
  - A unit that cannot be read (silent, refusing the login, unknown answer) fails
    the task with the loader's reason.
version_added: 1.0.0
author:
  - Brantwell Firmware Loader team
extends_documentation_fragment:
  - brantwell.firmware_loader.fwload
  - brantwell.firmware_loader.fwload.unit
attributes:
  check_mode:
    support: full
options: {}
'''

EXAMPLES = r'''
- name: What does each switch run?
  brantwell.firmware_loader.fwload_facts:
    product: switch
    ip: "{{ unit_ip }}"
    user: admin
    password: "{{ switch_password }}"
  delegate_to: "{{ loader_pc }}"

- name: Report it
  ansible.builtin.debug:
    msg: "{{ inventory_hostname }} runs {{ fwload_unit.firmware }} on {{ fwload_unit.board }}"
'''

RETURN = r'''
product:
  description: The product asked for.
  returned: always
  type: str
  sample: switch
ip:
  description: The unit's address.
  returned: always
  type: str
  sample: 192.168.1.10
firmware:
  description: The firmware version the unit runs, dotted; null where it does not tell.
  returned: success
  type: str
  sample: 3.7.2
board:
  description: The unit's board or processor; null where unknown.
  returned: success
  type: str
  sample: kvni79524
boot_monitor:
  description: The unit's boot-monitor version where it tells; else null.
  returned: success
  type: str
  sample: 1.1.4
unit:
  description: Everything C(fwload identify --json) said of the unit.
  returned: success
  type: dict
ansible_facts:
  description: The same object as I(unit), as the host's fact C(fwload_unit).
  returned: success
  type: dict
  contains:
    fwload_unit:
      description: What the unit runs.
      type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.brantwell.firmware_loader.plugins.module_utils.fwload import (
    fwload_command, identify, not_ipv4, unit_argument_spec)


def main():
    module = AnsibleModule(argument_spec=unit_argument_spec(), supports_check_mode=True)
    p = module.params
    if not_ipv4(p, ('ip',)):
        module.fail_json(msg='ip needs a dotted IPv4 address, not %r' % p['ip'])
    fwload = fwload_command(module)
    unit, why = identify(module, fwload, p['product'], p['ip'], user=p['user'],
                         password=p['password'], http_port=p['http_port'],
                         station_port=p['station_port'], timeout=p['identify_timeout'])
    if unit is None:
        module.fail_json(msg='%s %s could not be identified: %s' % (p['product'], p['ip'], why),
                         product=p['product'], ip=p['ip'])
    module.exit_json(changed=False, product=p['product'], ip=p['ip'],
                     firmware=unit['firmware'], board=unit['board'],
                     boot_monitor=unit['boot_monitor'], unit=unit,
                     ansible_facts={'fwload_unit': unit})


if __name__ == '__main__':
    main()
