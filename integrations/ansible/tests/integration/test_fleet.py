# The rolling upgrade of the guide, run with ansible-playbook on this machine
# against a fleet of simulated units on loopback addresses (`fwload sim
# switch`, `fwload sim station`): three switches, one of which already runs
# the firmware, and two stations, one of which refuses its update. Judged by
# what Ansible recorded per host and by what the simulated units received.

import hashlib
import json
import os
import socket
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get('FWL_SOURCE_DIR') or os.path.abspath(os.path.join(HERE, '../../../..'))
FWLOAD = os.environ.get('FWLOAD') or os.path.join(SOURCE, 'build/asan/fwload')
PASSWORD = 'Fleet-pw-4711'
SCRIPT_ERROR = 'Update refused: flash is write-protected'

# name -> (product, address, number in its simulator's fleet, its own options)
UNITS = {
    'sw1': ('switch', '127.0.31.1', 1, []),
    'sw2': ('switch', '127.0.31.2', 2, ['--fw-rev', '3.9.0']),
    'sw3': ('switch', '127.0.31.3', 3, []),
    'st1': ('station', '127.0.31.11', 1, []),
    'st2': ('station', '127.0.31.12', 2, ['--script-error', SCRIPT_ERROR]),
}
SWITCH_IMAGES = ('kvimagea_mums3_9_0', 'kvimageba_mums3_9_0')
STATION_IMAGES = ('kvimage_razeb3_2_1', 'kvimageb_razeb3_2_1')


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def sha256(path):
    with open(path, 'rb') as handle:
        return hashlib.sha256(handle.read()).hexdigest()


@pytest.fixture(scope='module')
def firmware(tmp_path_factory):
    folder = tmp_path_factory.mktemp('firmware')
    for index, name in enumerate(SWITCH_IMAGES + STATION_IMAGES):
        (folder / name).write_bytes(os.urandom((40000, 5000, 30000, 4000)[index]))
    return folder


class Fleet(object):
    """The simulated units: one `fwload sim switch --count 3` and one `fwload
    sim station --count 2`, each unit with its own state; they fetch from
    this PC's TFTP port `tftp_port`."""

    def __init__(self, work, env):
        self.work = work
        self.env = env
        self.tftp_port = free_port(socket.SOCK_DGRAM)
        self.http_port = free_port(socket.SOCK_STREAM)
        self.station_port = free_port(socket.SOCK_DGRAM)
        self.processes = []

    def start(self):
        common = {
            'switch': ['--http-port', str(self.http_port), '--user', 'admin', '--password',
                       PASSWORD, '--info-installed', '--state', str(self.work / 'state.json')],
            'station': ['--station-port', str(self.station_port), '--cpu', 'ARM9', '--mtd5',
                        '--build', '3.2.0', '--save', str(self.work / 'saved')],
        }
        for product, options in common.items():
            units = [u for u in UNITS.values() if u[0] == product]
            argv = ['sim', product, '--count', str(len(units)), '--address', units[0][1],
                    '--restart-ms', '100', '--tftp-port', str(self.tftp_port)] + options
            for _, _, number, own in units:
                argv += ['--unit', str(number)] + own
            process = subprocess.Popen([FWLOAD] + argv, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, env=self.env, text=True)
            self.processes.append(process)
            for _ in units:
                line = process.stdout.readline()
                assert line.startswith(product), line

    def stop(self):
        for process in self.processes:
            process.terminate()
        for process in self.processes:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            process.stdout.close()

    def installs(self, name):
        """What a simulated switch installed, as its state file says."""
        path = self.work / ('state-%s.json' % UNITS[name][1])
        if not path.exists():
            return []
        return json.loads(path.read_text()).get('installs', [])

    def saved(self, name):
        """The images a simulated station fetched: name -> SHA-256."""
        folder = self.work / 'saved' / UNITS[name][1]
        if not folder.is_dir():
            return {}
        return dict((p.name, sha256(str(p))) for p in folder.iterdir() if p.name in STATION_IMAGES)


def write_inventory(work, fleet, firmware, fwload):
    units = {}
    for name, (product, ip, _, _) in UNITS.items():
        host = {'product': product, 'unit_ip': ip}
        if product == 'switch':
            host.update(firmware=str(firmware / SWITCH_IMAGES[0]), switch_user='admin',
                        switch_password=PASSWORD, http_port=fleet.http_port)
        else:
            host.update(firmware=str(firmware / STATION_IMAGES[0]),
                        station_port=fleet.station_port)
        units[name] = host
    inventory = {'all': {'children': {
        'loader_pcs': {'hosts': {'site_pc': {
            'ansible_connection': 'local', 'ansible_python_interpreter': '/usr/bin/python3',
            'segment_ip': '127.0.0.1'}}},
        'units': {'hosts': units, 'vars': {
            'loader_pc': 'site_pc', 'fwload': fwload, 'tftp_port': fleet.tftp_port,
            'records_dir': str(work / 'records'), 'ansible_connection': 'local',
            'ansible_python_interpreter': '/usr/bin/python3'}},
    }}}
    path = work / 'inventory.json'
    path.write_text(json.dumps(inventory))
    return path


def logging_fwload(work):
    """A fwload that notes its command line, and whether a password came in
    its environment, before it runs the real one: the modules must use it
    (fwload_path) and never pass the password on the command line."""
    log = work / 'fwload-calls.log'
    wrapper = work / 'fwload-logged'
    wrapper.write_text('#!/bin/sh\n'
                       'printf "%%s password:%%s\\n" "$*" "${FWLOAD_PASSWORD:+yes}" >> "%s"\n'
                       'exec "%s" "$@"\n' % (log, FWLOAD))
    wrapper.chmod(0o755)
    return str(wrapper), log


@pytest.fixture
def site(tmp_path, firmware, collections_path):
    """A fresh fleet and everything to run the playbook against it."""
    if not os.access(FWLOAD, os.X_OK):
        pytest.fail('no fwload at %s (set FWLOAD)' % FWLOAD)
    env = dict(os.environ)
    env.update(FWLOADER_SYSTEM_DIR=str(tmp_path / 'system'),
               FWLOADER_SETTINGS_FILE=str(tmp_path / 'settings.ini'))
    fleet = Fleet(tmp_path, env)
    fwload, calls = logging_fwload(tmp_path)
    inventory = write_inventory(tmp_path, fleet, firmware, fwload)
    (tmp_path / 'ansible.cfg').write_text('[defaults]\n')
    env.update(
        ANSIBLE_CONFIG=str(tmp_path / 'ansible.cfg'),
        ANSIBLE_HOME=str(tmp_path / 'ansible-home'),
        ANSIBLE_LOCAL_TEMP=str(tmp_path / 'ansible-tmp'),
        ANSIBLE_REMOTE_TEMP=str(tmp_path / 'ansible-tmp'),
        ANSIBLE_COLLECTIONS_PATH=collections_path,
        ANSIBLE_CALLBACK_PLUGINS=os.path.join(HERE, 'callback_plugins'),
        ANSIBLE_CALLBACKS_ENABLED='fleet_results',
        ANSIBLE_NOCOLOR='1', ANSIBLE_RETRY_FILES_ENABLED='0',
        ANSIBLE_HOST_KEY_CHECKING='0')
    fleet.start()
    try:
        yield {'fleet': fleet, 'env': env, 'inventory': inventory, 'work': tmp_path,
               'calls': calls, 'firmware': firmware, 'runs': 0}
    finally:
        fleet.stop()


def run_playbook(site, *options, playbook='upgrade.yml'):
    """Runs the upgrade; returns (exit status, output, results by host and
    task name)."""
    site['runs'] += 1
    results = site['work'] / ('results-%d.jsonl' % site['runs'])
    env = dict(site['env'], FLEET_RESULTS=str(results))
    argv = ['ansible-playbook', '-vvv', '-i', str(site['inventory']),
            os.path.join(HERE, 'fleet', playbook)] + list(options)
    done = subprocess.run(argv, cwd=str(site['work']), env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=240)
    by_host = {}
    lines = results.read_text().splitlines() if results.exists() else []
    for line in lines:
        entry = json.loads(line)
        by_host.setdefault(entry['host'], {})[entry['task']] = entry
    assert PASSWORD not in done.stdout and PASSWORD not in '\n'.join(lines)
    return done.returncode, done.stdout, by_host


def outcome(by_host, task='Load the firmware'):
    """host -> 'changed', 'ok' or 'failed' for one task."""
    seen = {}
    for host, tasks in by_host.items():
        entry = tasks.get(task)
        if entry:
            seen[host] = 'failed' if entry['status'] == 'failed' else (
                'changed' if entry['changed'] else entry['status'])
    return seen


def test_rolling_upgrade_loads_every_unit_once(site):
    fleet, firmware = site['fleet'], site['firmware']
    status, output, by_host = run_playbook(site)
    assert status == 2, output  # a host failed, the play went on
    assert outcome(by_host) == {'sw1': 'changed', 'sw2': 'ok', 'sw3': 'changed',
                                'st1': 'changed', 'st2': 'failed'}, output
    facts = dict((h, t['What the unit runs']['result']['firmware']) for h, t in by_host.items())
    assert facts == {'sw1': '3.7.2', 'sw2': '3.9.0', 'sw3': '3.7.2', 'st1': '3.2.0',
                     'st2': '3.2.0'}

    load = dict((h, t['Load the firmware']['result']) for h, t in by_host.items())
    for host, before in (('sw1', '3.7.2'), ('sw3', '3.7.2'), ('st1', '3.2.0')):
        after = load[host]['firmware_version']
        assert (load[host]['firmware_before'], load[host]['firmware_after']) == (before, after)
        assert load[host]['loaded'] and load[host]['result'] == 1
        assert all(step['state'] == 'OK' for step in load[host]['steps']), load[host]['steps']
        # The record came back to the control node.
        with open(str(site['work'] / 'records' / (host + '.json'))) as handle:
            assert json.load(handle)['outcome'] == 'success'
    assert load['sw2']['reason'] == 'already runs 3.9.0' and not load['sw2']['loaded']
    assert SCRIPT_ERROR in load['st2']['msg']
    with open(str(site['work'] / 'records' / 'st2.json')) as handle:
        assert json.load(handle)['outcome'] == 'failed'
    assert 'ERROR' in [step['state'] for step in load['st2']['steps']]

    # The units hold the images byte for byte; the current one got nothing.
    for host in ('sw1', 'sw3'):
        installs = fleet.installs(host)
        assert len(installs) == 1 and installs[0]['accepted']
        assert (installs[0]['rootSha256'], installs[0]['bootSha256']) == tuple(
            sha256(str(firmware / name)) for name in SWITCH_IMAGES)
    assert fleet.installs('sw2') == []
    assert fleet.saved('st1') == dict((n, sha256(str(firmware / n))) for n in STATION_IMAGES)
    assert fleet.saved('st2') == {}

    # The password went to fwload in its environment, never on a command line.
    calls = site['calls'].read_text()
    assert PASSWORD not in calls
    assert all(line.endswith('password:yes') for line in calls.splitlines()
               if '--product switch' in line)

    # Again: nothing is loaded twice, the refusing station still fails.
    status, output, by_host = run_playbook(site)
    assert outcome(by_host) == {'sw1': 'ok', 'sw2': 'ok', 'sw3': 'ok', 'st1': 'ok',
                                'st2': 'failed'}, output
    assert [len(fleet.installs(h)) for h in ('sw1', 'sw2', 'sw3')] == [1, 0, 1]
    assert by_host['st1']['Load the firmware']['result']['reason'] == 'already runs 3.2.1'


def test_check_mode_on_a_fresh_fleet_reports_and_changes_nothing(site):
    fleet = site['fleet']
    status, output, by_host = run_playbook(site, '--check')
    assert status == 0, output
    assert outcome(by_host) == {'sw1': 'changed', 'sw2': 'ok', 'sw3': 'changed',
                                'st1': 'changed', 'st2': 'changed'}, output
    load = dict((h, t['Load the firmware']['result']) for h, t in by_host.items())
    assert load['sw1']['msg'].startswith('would load')
    assert load['sw1']['reason'] == 'runs 3.7.2, the firmware is 3.9.0'
    assert load['st2']['reason'] == 'runs 3.2.0, the firmware is 3.2.1'
    assert not any(entry['loaded'] for entry in load.values())
    assert [fleet.installs(h) for h in ('sw1', 'sw2', 'sw3')] == [[], [], []]
    assert fleet.saved('st1') == {} and fleet.saved('st2') == {}
    assert not [line for line in site['calls'].read_text().splitlines() if line.startswith('load ')]


def test_batch_on_the_site_pc_loads_each_unit_once(site):
    fleet, firmware, work = site['fleet'], site['firmware'], site['work']
    rows = ['name,product,ip,firmware,password_env']
    for name in ('sw1', 'sw2', 'sw3', 'st1'):
        product, ip = UNITS[name][:2]
        image = (SWITCH_IMAGES if product == 'switch' else STATION_IMAGES)[0]
        rows.append('%s,%s,%s,%s,%s' % (name, product, ip, firmware / image,
                                        'FLEET_SW3_PASSWORD' if name == 'sw3' else ''))
    (work / 'units.csv').write_text('\n'.join(rows) + '\n')
    extra = {'batch_inventory': str(work / 'units.csv'), 'switch_password': PASSWORD,
             'wrong_password': PASSWORD + '-old', 'http_port': fleet.http_port,
             'station_port': fleet.station_port, 'tftp_port': fleet.tftp_port,
             'fwload': site['calls'].parent.joinpath('fwload-logged').as_posix()}
    (work / 'batch-vars.json').write_text(json.dumps(extra))

    def batch(*options):
        status, output, by_host = run_playbook(site, '-e', '@' + str(work / 'batch-vars.json'),
                                               *options, playbook='batch.yml')
        entry = by_host['site_pc']['Batch']
        units = dict((u['unit'], u) for u in entry['result']['units'])
        return entry, units, output

    # Check mode: the dry run tells what would be loaded and loads nothing.
    entry, units, output = batch('--check')
    assert (entry['status'], entry['changed']) == ('ok', True), output
    assert dict((n, u['would_load']) for n, u in units.items()) == {
        'sw1': True, 'sw2': False, 'sw3': True, 'st1': True}
    assert [fleet.installs(h) for h in ('sw1', 'sw2', 'sw3')] == [[], [], []]

    # The batch: the unit with the wrong password fails alone.
    entry, units, output = batch()
    assert (entry['status'], entry['changed']) == ('failed', True), output
    assert dict((n, u['result']) for n, u in units.items()) == {
        'sw1': 'loaded', 'sw2': 'skipped', 'sw3': 'failed', 'st1': 'loaded'}
    assert entry['result']['msg'].startswith('1 of 4 units failed: sw3')
    assert (units['sw1']['firmware_before'], units['sw1']['firmware_after']) == ('3.7.2', '3.9.0')
    assert [len(fleet.installs(h)) for h in ('sw1', 'sw2', 'sw3')] == [1, 0, 0]
    assert fleet.saved('st1') == dict((n, sha256(str(firmware / n))) for n in STATION_IMAGES)

    # Again: nothing is loaded twice.
    entry, units, output = batch()
    assert (entry['status'], entry['changed']) == ('failed', False), output
    assert [u['result'] for u in units.values()] == ['skipped', 'skipped', 'failed', 'skipped']
    assert PASSWORD not in site['calls'].read_text()


def test_too_many_failures_in_a_batch_stop_the_upgrade(site):
    # Batches of three: the first holds a switch whose password is wrong
    # (one of three is past 20 %), so the stations' batch never starts.
    override = site['work'] / 'wrong-password.json'
    override.write_text(json.dumps({'all': {'children': {'units': {'hosts': {
        'sw3': {'switch_password': PASSWORD + '-old'}}}}}}))
    status, output, by_host = run_playbook(site, '-i', str(override), '-e', 'fleet_serial=3')
    assert status == 2, output
    assert outcome(by_host) == {'sw1': 'changed', 'sw2': 'ok', 'sw3': 'failed'}, output
    assert 'Unable to communicate / login' in by_host['sw3']['Load the firmware']['result']['msg']
    # The failed load's record came back all the same.
    with open(str(site['work'] / 'records' / 'sw3.json')) as handle:
        assert json.load(handle)['outcome'] == 'failed'
    assert site['fleet'].saved('st1') == {} and 'st1' not in by_host
