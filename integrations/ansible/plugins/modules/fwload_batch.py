#!/usr/bin/python
# -*- coding: utf-8 -*-
# Runs `fwload batch` on the loader PC: a site's PC loads its own units in
# parallel, and the per-unit table comes back.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: fwload_batch
short_description: Load many units of one site in parallel from its loader PC
description:
  - Runs C(fwload batch) on the site's loader PC with an inventory file of units (or
    the stations of a project file) and returns the table of units with each one's
    result, firmware before and after, duration and load record.
  - With I(skip_current=true) (the default) units that already run the firmware's
    version are skipped, so running the task again loads nothing twice.
  - In check mode the batch runs with C(--dry-run), which checks the inventory and
    identifies every unit; the task reports C(changed) when a unit would be loaded.
  - The task fails when any unit failed or the inventory was refused; the table is
    returned either way.
version_added: 1.0.0
author:
  - Brantwell Firmware Loader team
extends_documentation_fragment:
  - brantwell.firmware_loader.fwload
attributes:
  check_mode:
    support: full
options:
  inventory:
    description:
      - The batch inventory (CSV with a header row) on the loader PC.
      - One of I(inventory) and I(project) is required.
    type: path
  project:
    description:
      - A project file on the loader PC whose stations are loaded over Ethernet only.
    type: path
  stations:
    description:
      - The names of the stations of I(project) to load; all of them when left out.
    type: list
    elements: str
  firmware:
    description:
      - Firmware file (or, with I(project), a folder) for rows that name none.
    type: path
  parallel:
    description:
      - How many loads run at once (the loader's default is 4, at most 64).
    type: int
  skip_current:
    description:
      - Skip the units that already run the firmware's version.
    type: bool
    default: true
  pc_ip:
    description:
      - The loader PC's address for rows that name none.
    type: str
  subnet:
    description:
      - Subnet mask for rows that name none.
    type: str
  gateway:
    description:
      - Gateway for rows that name none.
    type: str
  user:
    description:
      - Switch login name for rows that name none.
    type: str
  password:
    description:
      - Switch password for rows whose C(password_env) column is empty; passed as
        C(FWLOAD_PASSWORD) in the environment, never on a command line or in a log.
    type: str
  passwords:
    description:
      - Passwords by the names the inventory's C(password_env) column gives; each is
        set as that environment variable for the batch alone.
    type: dict
  tftp_port:
    description:
      - UDP port of the loader PC's TFTP server. Real units fetch from 69.
    type: int
    default: 69
  http_port:
    description:
      - TCP port of the switches' web interfaces, when not 80 (simulated switches).
    type: int
  station_port:
    description:
      - UDP port of the stations' station link, when not 5454 (simulated stations).
    type: int
  verify:
    description:
      - Check the images of serial loads with the unit's crc32; C(false) passes
        C(--no-verify).
    type: bool
    default: true
  catch_timeout:
    description:
      - Seconds a serial unit's boot monitor has to answer after the power-on prompt.
    type: int
  lock_timeout:
    description:
      - Seconds to wait for another load on the same loader PC and TFTP port to end.
    type: int
    default: 3600
notes:
  - The loader answers its own questions Yes (C(--yes)).
  - Loads of single units (M(brantwell.firmware_loader.fwload_load)) and batches on
    one PC that use the same TFTP port run one after another.
seealso:
  - module: brantwell.firmware_loader.fwload_load
'''

EXAMPLES = r'''
- name: Each site's PC loads its own units, all sites at once
  hosts: loader_pcs
  gather_facts: false
  tasks:
    - name: Copy the site's inventory
      ansible.builtin.copy:
        src: "inventories/{{ inventory_hostname }}.csv"
        dest: /srv/fwload/units.csv

    - name: Load every unit that does not run the firmware yet
      brantwell.firmware_loader.fwload_batch:
        inventory: /srv/fwload/units.csv
        firmware: /srv/firmware/kvimagea_mums3_9_0
        pc_ip: "{{ segment_ip }}"
        subnet: 255.255.255.0
        user: admin
        password: "{{ switch_password }}"
        parallel: 8
      register: batch

    - name: Show the table
      ansible.builtin.debug:
        msg: "{{ item.unit }} {{ item.result }} {{ item.firmware_before }} -> {{ item.firmware_after }}"
      loop: "{{ batch.units }}"
'''

RETURN = r'''
result:
  description: The batch's exit status (0 every unit loaded or skipped, 1 a unit
    failed, 2 bad input and nothing was loaded).
  returned: always
  type: int
  sample: 0
record:
  description: The batch record (JSON) on the loader PC.
  returned: when the loader wrote one
  type: str
units:
  description: One entry per unit, as the loader's closing table.
  returned: always
  type: list
  elements: dict
  contains:
    unit:
      description: The unit's name.
      type: str
    ip:
      description: Its address.
      type: str
    result:
      description: C(loaded), C(failed), C(skipped) or C(interrupted); in check mode
        every unit is C(skipped) and I(would_load) tells.
      type: str
    firmware_before:
      description: The version it ran before, where known.
      type: str
    firmware_after:
      description: The version it runs after, where known.
      type: str
    duration_s:
      description: Seconds its load took.
      type: float
    record:
      description: Its load record on the loader PC.
      type: str
    message:
      description: The loader's message for it.
      type: str
    would_load:
      description: In check mode, whether a load would happen (the unit does not
        run the file's version, could not be identified, or I(skip_current=false)).
      type: bool
loaded:
  description: Names of the units loaded.
  returned: always
  type: list
  elements: str
failed_units:
  description: Names of the units that failed or were interrupted.
  returned: always
  type: list
  elements: str
rc:
  description: Exit status of C(fwload batch).
  returned: always
  type: int
stderr:
  description: What C(fwload batch) wrote on its standard error.
  returned: always
  type: str
'''

import errno
import re

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.brantwell.firmware_loader.plugins.module_utils.fwload import (
    TftpPortLock, decide_load, fwload_command, inspect_version, last_line, parse_json_lines,
    read_record, run_fwload, summarize_batch)

_VARIABLE = re.compile(r'^[A-Za-z_][A-Za-z0-9_]*$')


def batch_argv(fwload, p, dry_run):
    argv = [fwload, 'batch']
    if p['inventory']:
        argv.append(p['inventory'])
    else:
        argv += ['--project', p['project']]
        if p['stations']:
            argv += ['--stations', ','.join(p['stations'])]
    options = (('firmware', '--firmware'), ('parallel', '--parallel'), ('pc_ip', '--pc-ip'),
               ('subnet', '--subnet'), ('gateway', '--gateway'), ('user', '--user'),
               ('http_port', '--http-port'), ('station_port', '--station-port'),
               ('catch_timeout', '--catch-timeout'))
    for key, flag in options:
        if p[key] is not None and p[key] != '':
            argv += [flag, str(p[key])]
    if p['tftp_port'] != 69:
        argv += ['--tftp-port', str(p['tftp_port'])]
    if p['skip_current']:
        argv.append('--skip-current')
    if not p['verify']:
        argv.append('--no-verify')
    if dry_run:
        argv.append('--dry-run')
    return argv + ['--yes', '--json']


def mark_would_load(module, fwload, summary, skip_current):
    """Sets each unit's 'would_load' after a dry run, from what it runs and
    the version of the firmware file the batch record names for it (the
    dry run's own table calls every unit skipped)."""
    record = read_record(summary['record'])
    files = {}
    for unit in record.get('units') or []:
        if isinstance(unit, dict) and isinstance(unit.get('firmware_file'), str):
            files[unit.get('unit')] = unit['firmware_file']
    versions = {}
    for unit in summary['units']:
        path = files.get(unit['unit'])
        if path and path not in versions:
            versions[path] = inspect_version(module, fwload, path)[0]
        running = unit['firmware_before'] or None
        unit['would_load'] = not skip_current or decide_load(running, versions.get(path))[0]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            inventory=dict(type='path'),
            project=dict(type='path'),
            stations=dict(type='list', elements='str'),
            firmware=dict(type='path'),
            parallel=dict(type='int'),
            skip_current=dict(type='bool', default=True),
            pc_ip=dict(type='str'),
            subnet=dict(type='str'),
            gateway=dict(type='str'),
            user=dict(type='str'),
            password=dict(type='str', no_log=True),
            passwords=dict(type='dict', no_log=True),
            tftp_port=dict(type='int', default=69),
            http_port=dict(type='int'),
            station_port=dict(type='int'),
            verify=dict(type='bool', default=True),
            catch_timeout=dict(type='int'),
            lock_timeout=dict(type='int', default=3600),
            fwload_path=dict(type='path'),
        ),
        supports_check_mode=True,
        required_one_of=[('inventory', 'project')],
        mutually_exclusive=[('inventory', 'project')],
    )
    p = module.params
    environment = {}
    for name, value in (p['passwords'] or {}).items():
        if not _VARIABLE.match(name):
            module.fail_json(msg='passwords: %r is no environment variable name' % name)
        environment[name] = '' if value is None else str(value)
    fwload = fwload_command(module)
    argv = batch_argv(fwload, p, module.check_mode)

    try:
        with TftpPortLock(p['tftp_port'], p['lock_timeout']):
            rc, stdout, stderr = run_fwload(module, argv, password=p['password'],
                                            environment=environment)
    except OSError as error:
        module.fail_json(msg='cannot take TFTP port %d of this PC: %s'
                         % (p['tftp_port'], 'another load kept it' if error.errno == errno.ETIMEDOUT
                            else error))

    summary = summarize_batch(parse_json_lines(stdout))
    units = summary['units']
    loaded = [u['unit'] for u in units if u['result'] == 'loaded']
    failed = [u['unit'] for u in units if u['result'] in ('failed', 'interrupted')]
    if module.check_mode:
        mark_would_load(module, fwload, summary, p['skip_current'])
        changed = any(u['would_load'] for u in units)
    else:
        changed = bool(loaded)
    out = dict(changed=changed, result=summary['result'], record=summary['record'], units=units,
               loaded=loaded, failed_units=failed, rc=rc, stderr=stderr)
    if rc != 0 or summary['result'] != 0:
        if failed:
            words = ['%s (%s)' % (u['unit'], u['message'] or u['result'])
                     for u in units if u['unit'] in failed]
            msg = '%d of %d units failed: %s' % (len(failed), len(units), '; '.join(words))
        elif rc == 2:
            # Refused input: the loader names every bad row, one a line.
            msg = ' / '.join(line.strip() for line in stderr.splitlines() if line.strip())
            msg = msg or 'fwload batch refused its input'
        else:
            msg = last_line(stderr) or 'fwload batch ended with status %d' % rc
        module.fail_json(msg=msg, **out)
    module.exit_json(msg='%d loaded, %d units' % (len(loaded), len(units)), **out)


if __name__ == '__main__':
    main()
