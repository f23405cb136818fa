#!/usr/bin/python
# -*- coding: utf-8 -*-
# Loads one unit through `fwload load`, only when it does not already run the
# firmware's version.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: fwload_load
short_description: Load firmware into one station or switch
description:
  - Loads a firmware file into one unit with C(fwload load) on the site's loader PC,
    a station or switch over Ethernet only, or a unit caught at its boot monitor on a
    serial port.
  - Idempotent. The unit is identified first (C(fwload identify)); when it already
    runs the firmware file's version nothing is loaded and the task reports
    C(changed=false), unless I(force=true). A unit that cannot be identified, or a
    file that shows no version, is loaded; the loader's own checks then judge.
  - In check mode the unit is identified and the task reports whether a load would
    happen (C(changed)) and why (I(reason)); nothing is loaded.
  - After a load the unit is identified again. A load the loader reports as a
    success while the unit then runs another version than the file's fails the task.
  - A failed load fails the task with the loader's own message.
  - Loads on one loader PC that use the same TFTP port (I(tftp_port)) run one after
    another, however many tasks are delegated to that PC at once; the units fetch
    their images from that one port.
version_added: 1.0.0
author:
  - Brantwell Firmware Loader team
extends_documentation_fragment:
  - brantwell.firmware_loader.fwload
  - brantwell.firmware_loader.fwload.unit
attributes:
  check_mode:
    support: full
options:
  method:
    description:
      - C(eth) (or C(ethernet)) upgrades the running unit over the network alone;
        C(serial) catches the unit's boot monitor on the serial port I(port).
    type: str
    choices: [eth, ethernet, serial]
    default: eth
  firmware:
    description:
      - The firmware file on the loader PC (an image, an archive or a firmware bundle).
    type: path
    required: true
  pc_ip:
    description:
      - The loader PC's address on the unit's segment; the unit fetches from its TFTP
        server there.
    type: str
    required: true
  subnet:
    description:
      - The unit's subnet mask.
    type: str
    required: true
  gateway:
    description:
      - The unit's gateway.
    type: str
  station_type:
    description:
      - A station's type code, when no project file names the station.
    type: int
  project:
    description:
      - A project file on the loader PC that names the station (with I(station)).
    type: path
  station:
    description:
      - The station's name in I(project).
    type: str
  port:
    description:
      - The serial port for I(method=serial) (a name such as C(ttyUSB0) or a device path).
    type: str
  running_ip:
    description:
      - The address the unit answers at while it runs its firmware, when it is not
        I(ip) (a serial load's I(ip) is the unit's temporary address during the load).
      - The unit is identified there before and after the load.
    type: str
  tftp_port:
    description:
      - UDP port of the loader PC's TFTP server. Real units fetch from 69.
    type: int
    default: 69
  verify:
    description:
      - Check the images with the unit's crc32 after a serial load.
      - C(false) passes C(--no-verify).
    type: bool
    default: true
  dhcp:
    description:
      - A station takes its address by DHCP during an Ethernet-only upgrade.
    type: bool
    default: false
  power_off_cmd:
    description:
      - Command run on the loader PC to switch the unit off for a serial load.
    type: str
  power_on_cmd:
    description:
      - Command run on the loader PC to switch the unit on for a serial load.
    type: str
  catch_timeout:
    description:
      - Seconds to wait for the boot monitor after power-on in a serial load.
    type: int
  force:
    description:
      - Load even when the unit already runs the firmware's version.
    type: bool
    default: false
  identify_after:
    description:
      - Seconds to keep asking the unit what it runs after a successful load, until it
        answers (a switch's web server may still be starting after its restart).
      - A serial load without I(running_ip) asks once.
    type: int
    default: 60
  lock_timeout:
    description:
      - Seconds to wait for another load on the same loader PC and TFTP port to end.
    type: int
    default: 3600
notes:
  - Every question the loader asks (the Ethernet-only warning among them) is answered
    Yes, as with C(fwload load --yes).
  - Set the task's C(timeout) to bound a load that does not end.
seealso:
  - module: brantwell.firmware_loader.fwload_facts
  - module: brantwell.firmware_loader.fwload_batch
'''

EXAMPLES = r'''
- name: Upgrade the switches of every site from that site's loader PC
  hosts: switches
  gather_facts: false
  serial: 5
  max_fail_percentage: 20
  tasks:
    - name: Load the firmware (nothing happens where it already runs)
      brantwell.firmware_loader.fwload_load:
        product: switch
        ip: "{{ unit_ip }}"
        pc_ip: "{{ hostvars[loader_pc].segment_ip }}"
        subnet: 255.255.255.0
        user: admin
        password: "{{ switch_password }}"
        firmware: /srv/firmware/kvimagea_mums3_9_0
      delegate_to: "{{ loader_pc }}"
      register: load

- name: A station of a project over Ethernet only
  brantwell.firmware_loader.fwload_load:
    product: station
    ip: 10.20.0.14
    pc_ip: 10.20.0.2
    subnet: 255.255.255.0
    project: /srv/projects/plant.6pj
    station: Pump 4
    firmware: /srv/firmware/lozeb_3_2_5.fwb
  delegate_to: loader-north

- name: A unit on a serial port, powered through a relay board
  brantwell.firmware_loader.fwload_load:
    product: station
    method: serial
    port: ttyUSB0
    ip: 10.20.0.250
    running_ip: 10.20.0.14
    pc_ip: 10.20.0.2
    subnet: 255.255.255.0
    station_type: 5102
    firmware: /srv/firmware/kvfirm_lozeb3_1_2.tgz
    power_off_cmd: relay 3 off
    power_on_cmd: relay 3 on
  delegate_to: loader-north
'''

RETURN = r'''
loaded:
  description: Whether a load ran and succeeded (false in check mode and when skipped).
  returned: always
  type: bool
reason:
  description: Why the unit was or was not loaded.
  returned: always
  type: str
  sample: runs 3.7.2, the firmware is 3.9.0
firmware_version:
  description: The firmware file's version, dotted; null when the file shows none.
  returned: always
  type: str
  sample: 3.9.0
firmware_before:
  description: The version the unit ran before; null when it could not be identified.
  returned: always
  type: str
  sample: 3.7.2
firmware_after:
  description: >-
    The version the unit runs after the load (the same as I(firmware_before) when
    nothing was loaded); null when it could not be identified.
  returned: always
  type: str
  sample: 3.9.0
unit:
  description: What C(fwload identify) said of the unit before; null when it could not.
  returned: always
  type: dict
result:
  description: >-
    The loader's result code (1 success, 0 errors, -1 failure, -2 declined); null
    when no load ran or the loader ended without one.
  returned: always
  type: int
  sample: 1
steps:
  description: The load's steps in order with their state (C(OK), C(ERROR), C(working)
    for the step the load stopped in, C(not run)), a note where the loader gave one and
    the crc32 values where it checked them.
  returned: when a load ran
  type: list
  elements: dict
  sample:
    - {name: Transfer filesystem image, state: OK}
    - {name: Wait for switch to perform upgrade, state: OK}
messages:
  description: The message boxes the load showed, each with C(caption) and C(text).
  returned: when a load ran
  type: list
  elements: dict
record:
  description: Path of the load record (JSON) on the loader PC; fetch it with
    M(ansible.builtin.fetch).
  returned: when a load ran
  type: str
  sample: /home/loader/.local/share/firmware-loader/loads/20260105T101803.835Z.json
rc:
  description: Exit status of C(fwload load).
  returned: when a load ran
  type: int
stderr:
  description: What C(fwload load) wrote on its standard error (boxes and prompts).
  returned: when a load ran
  type: str
'''

import errno
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.brantwell.firmware_loader.plugins.module_utils.fwload import (
    IDENTIFY_AFTER_PAUSE_S, TftpPortLock, after_load_problem, decide_load,
    failure_message, firmware_version, fwload_command, identify, not_ipv4, parse_json_lines,
    read_record, record_messages, run_fwload, summarize_load, unit_argument_spec)


def load_argv(fwload, p):
    """The command line of the load: every option given, never the password."""
    method = 'serial' if p['method'] == 'serial' else 'eth'
    argv = [fwload, 'load', '--product', p['product'], '--method', method, '--ip', p['ip'],
            '--pc-ip', p['pc_ip'], '--subnet', p['subnet'], '--firmware', p['firmware'],
            '--yes', '--json']
    options = (('gateway', '--gateway'), ('user', '--user'), ('port', '--port'),
               ('project', '--project'), ('station', '--station'),
               ('station_type', '--station-type'), ('http_port', '--http-port'),
               ('station_port', '--station-port'), ('power_off_cmd', '--power-off-cmd'),
               ('power_on_cmd', '--power-on-cmd'), ('catch_timeout', '--catch-timeout'))
    for key, flag in options:
        if p[key] is not None and p[key] != '':
            argv += [flag, str(p[key])]
    if p['tftp_port'] != 69:
        argv += ['--tftp-port', str(p['tftp_port'])]
    if not p['verify']:
        argv.append('--no-verify')
    if p['dhcp']:
        argv.append('--dhcp')
    return argv


def main():
    arguments = unit_argument_spec()
    arguments.update(
        method=dict(type='str', default='eth', choices=['eth', 'ethernet', 'serial']),
        firmware=dict(type='path', required=True),
        pc_ip=dict(type='str', required=True),
        subnet=dict(type='str', required=True),
        gateway=dict(type='str'),
        station_type=dict(type='int'),
        project=dict(type='path'),
        station=dict(type='str'),
        port=dict(type='str'),
        running_ip=dict(type='str'),
        tftp_port=dict(type='int', default=69),
        verify=dict(type='bool', default=True),
        dhcp=dict(type='bool', default=False),
        power_off_cmd=dict(type='str'),
        power_on_cmd=dict(type='str'),
        catch_timeout=dict(type='int'),
        force=dict(type='bool', default=False),
        identify_after=dict(type='int', default=60),
        lock_timeout=dict(type='int', default=3600),
    )
    module = AnsibleModule(
        argument_spec=arguments,
        supports_check_mode=True,
        mutually_exclusive=[('station_type', 'project')],
        required_together=[('project', 'station')],
        required_if=[('method', 'serial', ('port',))],
    )
    p = module.params
    bad = not_ipv4(p, ('ip', 'pc_ip', 'subnet', 'gateway', 'running_ip'))
    if bad:
        module.fail_json(msg='%s needs a dotted IPv4 address, not %r' % (bad, p[bad]))
    fwload = fwload_command(module)
    switch = p['product'] == 'switch'

    def ask_unit():
        return identify(module, fwload, p['product'], p['running_ip'] or p['ip'],
                        user=p['user'] if switch else None, password=p['password'],
                        http_port=p['http_port'] if switch else None,
                        station_port=None if switch else p['station_port'],
                        timeout=p['identify_timeout'])

    target, exact = firmware_version(module, fwload, p['firmware'])
    unit, why = ask_unit()
    before = unit['firmware'] if unit else None
    load, reason = decide_load(before, target, p['force'])
    if unit is None:
        reason = '%s (%s)' % (reason, why)
    out = dict(changed=False, loaded=False, reason=reason, firmware_version=target,
               firmware_before=before, firmware_after=before, unit=unit, result=None)

    if not load:
        module.exit_json(msg='%s %s %s' % (p['product'], p['ip'], reason), **out)
    if module.check_mode:
        out.update(changed=True, firmware_after=None)
        module.exit_json(msg='would load %s into %s %s: %s'
                         % (p['firmware'], p['product'], p['ip'], reason), **out)

    try:
        with TftpPortLock(p['tftp_port'], p['lock_timeout']):
            rc, stdout, stderr = run_fwload(module, load_argv(fwload, p), password=p['password'])
    except OSError as error:
        if error.errno == errno.ETIMEDOUT:
            module.fail_json(msg='another load on this PC kept TFTP port %d for %d s'
                             % (p['tftp_port'], p['lock_timeout']), **out)
        module.fail_json(msg='cannot take the lock of TFTP port %d: %s' % (p['tftp_port'], error),
                         **out)

    summary = summarize_load(parse_json_lines(stdout))
    record = read_record(summary['record'])
    out.update(rc=rc, result=summary['result'], steps=summary['steps'],
               messages=record_messages(record), record=summary['record'], stderr=stderr,
               firmware_after=None)
    succeeded = rc == 0 and summary['ok']
    # A load that began a step may have changed the unit, whatever its end.
    out['changed'] = any(step['state'] != 'not run' for step in summary['steps'])
    # A unit that has just restarted may need a while before it answers; a
    # serial load's address is only the unit's temporary one, unless
    # running_ip names where it runs, so that gets one question.
    after = None
    patience = 0
    if succeeded and (p['method'] != 'serial' or p['running_ip']):
        patience = p['identify_after']
    start = time.monotonic()
    while True:
        unit_after, _ = ask_unit()
        if unit_after is not None:
            after = unit_after['firmware']
            break
        if time.monotonic() - start + IDENTIFY_AFTER_PAUSE_S > patience:
            break
        time.sleep(IDENTIFY_AFTER_PAUSE_S)
    out['firmware_after'] = after

    if not succeeded:
        module.fail_json(msg=failure_message(summary, record, stderr), **out)
    out.update(changed=True, loaded=True)
    problem = after_load_problem(target, after, exact)
    if problem:
        out['loaded'] = False
        module.fail_json(msg=problem, **out)
    if after is None:
        module.warn('%s %s could not be identified after the load' % (p['product'], p['ip']))
    module.exit_json(msg='loaded %s into %s %s' % (p['firmware'], p['product'], p['ip']), **out)


if __name__ == '__main__':
    main()
