# -*- coding: utf-8 -*-
# Shared by the fwload_* modules: runs fwload on the loader PC, reads the JSON
# lines it prints (never its human text) and decides, from the version a unit
# runs and the version a firmware file carries, whether a load is needed.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import errno
import fcntl
import ipaddress
import json
import os
import re
import tempfile
import time

# fwload reads a switch's password from this variable; the modules never put
# a password on a command line.
PASSWORD_VARIABLE = 'FWLOAD_PASSWORD'

# fwload's events are small objects; a longer line is no event of its and is
# not decoded, which bounds the work a hostile or broken output can cause.
MAX_LINE = 1 << 20

# How long apart the unit is asked again after a load: a switch's web
# server may still be starting after the restart that ended the load.
IDENTIFY_AFTER_PAUSE_S = 2.0

_VERSION = re.compile(r'\d+(?:[._]\d+)*')


def parse_json_lines(text):
    """The JSON objects printed one per line in `text`, in order. Blank
    lines, human text, arrays, scalars and broken JSON are left out."""
    events = []
    for line in (text or '').splitlines():
        line = line.strip()
        if not line.startswith('{') or len(line) > MAX_LINE:
            continue
        try:
            value = json.loads(line)
        except (ValueError, RecursionError):
            continue
        if isinstance(value, dict):
            events.append(value)
    return events


def _index(value, size):
    """`value` as a step index below `size`, else None (bools are no index)."""
    if isinstance(value, bool) or not isinstance(value, int):
        return None
    return value if 0 <= value < size else None


def _code(value):
    """`value` as a result code, None unless it is an integer (not a bool)."""
    return value if isinstance(value, int) and not isinstance(value, bool) else None


def _text(value):
    return value if isinstance(value, str) else None


def summarize_load(events):
    """What the JSON lines of one `fwload load --json` say: a dict with
    `steps` (each {'name', 'state'} with 'note' and 'check' where given;
    state 'OK', 'ERROR', 'working' for the step the load stopped in, or
    'not run'), `result` (the loader's result code, None when it printed
    none), `ok` (True only when the result line says so), `record` (the load
    record's path or None) and `final_note`."""
    steps = []
    summary = {'steps': steps, 'result': None, 'ok': False, 'record': None, 'final_note': None}

    def end(index, state, note):
        if index is None:
            return
        steps[index]['state'] = state if state in ('OK', 'ERROR') else 'ERROR'
        if note:
            steps[index]['note'] = note

    for event in events:
        kind = event.get('kind')
        if kind == 'plan' and isinstance(event.get('steps'), list):
            del steps[:]
            for planned in event['steps']:
                name = planned.get('name') if isinstance(planned, dict) else None
                steps.append({'name': _text(name) or '', 'state': 'not run'})
        elif kind == 'step':
            ended = event.get('ended')
            if isinstance(ended, dict):
                end(_index(ended.get('step'), len(steps)), ended.get('state'),
                    _text(ended.get('note')))
            index = _index(event.get('step'), len(steps))
            if index is not None and steps[index]['state'] == 'not run':
                steps[index]['state'] = 'working'
        elif kind == 'check':
            index = _index(event.get('step'), len(steps))
            if index is not None:
                steps[index]['check'] = {'expected': _text(event.get('expected')),
                                         'found': _text(event.get('found'))}
        elif kind == 'final':
            note = _text(event.get('note'))
            end(_index(event.get('step'), len(steps)), event.get('state'), note)
            summary['final_note'] = note
        elif kind == 'result':
            result = event.get('result')
            summary['result'] = _code(result)
            summary['ok'] = event.get('ok') is True
            summary['record'] = _text(event.get('record'))
    return summary


# The columns of a batch's table, as `fwload batch --json` ends it.
BATCH_UNIT_KEYS = ('unit', 'ip', 'result', 'firmware_before', 'firmware_after', 'duration_s',
                   'record', 'message')


def summarize_batch(events):
    """What the JSON lines of `fwload batch --json` say: `result` (0 all
    loaded or skipped, 1 some failed, 2 bad input; None when the closing line
    is missing), `record` (the batch record's path), `units` (one dict per
    unit with the keys of BATCH_UNIT_KEYS, None where absent) and `events`
    (every per-unit event, for the units' own progress)."""
    summary = {'result': None, 'record': None, 'units': [], 'events': []}
    for event in events:
        if event.get('kind') == 'batch':
            result = event.get('result')
            summary['result'] = _code(result)
            summary['record'] = _text(event.get('record'))
            units = event.get('units') if isinstance(event.get('units'), list) else []
            summary['units'] = [dict((key, unit.get(key)) for key in BATCH_UNIT_KEYS)
                                for unit in units if isinstance(unit, dict)]
        elif 'unit' in event:
            summary['events'].append(event)
    return summary


def version_key(text):
    """The numbers of the first version in `text` ("3.9.0a" -> (3, 9),
    "3_2_1" -> (3, 2, 1)), trailing zeros dropped so that "3.2" and "3.2.0"
    are the same version; None when `text` holds no number. Letters after a
    number (an image's board variant) do not count."""
    if not isinstance(text, str):
        return None
    match = _VERSION.search(text)
    if not match:
        return None
    numbers = [int(part) for part in re.split(r'[._]', match.group(0))]
    while len(numbers) > 1 and numbers[-1] == 0:
        numbers.pop()
    return tuple(numbers)


def decide_load(running, target, force=False):
    """(load, reason): whether a unit that runs version `running` (None: the
    unit could not be identified) gets the firmware of version `target`
    (None: the file shows no version). Only a known, equal version spares a
    load; when in doubt the unit is loaded and the loader's own checks judge."""
    if force:
        return True, 'forced'
    if running is None:
        return True, 'the unit could not be identified'
    if version_key(target) is None:
        return True, 'the firmware file shows no version'
    if version_key(running) is None:
        return True, 'the unit reports no version it can be compared by (%s)' % running
    if version_key(running) == version_key(target):
        return False, 'already runs %s' % running
    return True, 'runs %s, the firmware is %s' % (running, target)


def after_load_problem(target, after, exact=True):
    """Why a load the loader called a success did not take, or None: the
    unit, identified again after the load, runs `after` instead of
    `target`. Unknown versions and files that name no exact version
    (`exact` False) prove nothing either way."""
    if not exact or after is None or version_key(target) is None or version_key(after) is None:
        return None
    if version_key(after) == version_key(target):
        return None
    return 'the loader reported success, but the unit runs %s instead of %s' % (after, target)


def last_line(text):
    """The last non-blank line of `text`, or ''."""
    lines = [line.strip() for line in (text or '').splitlines() if line.strip()]
    return lines[-1] if lines else ''


def failure_message(summary, record, stderr):
    """The loader's own words for a failed load: the last message box it
    showed (from the load record), else the final step's note, else the last
    line it wrote on stderr."""
    messages = record.get('messages') if isinstance(record, dict) else None
    if isinstance(messages, list):
        for message in reversed(messages):
            if isinstance(message, dict) and _text(message.get('text')):
                return message['text']
    return summary.get('final_note') or last_line(stderr) or (
        'the load failed (result %s)' % summary.get('result'))


def read_record(path, limit=16 << 20):
    """The load record at `path` as a dict, {} when there is none or it is
    no JSON object (records are small; one past `limit` bytes is not read)."""
    if not path:
        return {}
    try:
        if os.path.getsize(path) > limit:
            return {}
        with open(path, 'rb') as handle:
            value = json.loads(handle.read().decode('utf-8', 'replace'))
    except (OSError, ValueError, RecursionError):
        return {}
    return value if isinstance(value, dict) else {}


def record_messages(record):
    """The message boxes a load showed, as [{'caption', 'text'}]."""
    messages = record.get('messages') if isinstance(record, dict) else None
    if not isinstance(messages, list):
        return []
    return [{'caption': _text(m.get('caption')) or '', 'text': _text(m.get('text')) or ''}
            for m in messages if isinstance(m, dict)]


def not_ipv4(params, names):
    """The first of the options `names` whose value is given and is no
    dotted IPv4 address, or None: check mode must not promise a load that
    the loader would refuse."""
    for name in names:
        value = params.get(name)
        if value is None:
            continue
        try:
            ipaddress.IPv4Address(value)
        except ValueError:
            return name
    return None


def fwload_command(module):
    """The fwload to run: `fwload_path` when given, else the one on the
    managed host's PATH. Fails the module when there is none."""
    path = module.params.get('fwload_path')
    if path:
        if not (os.path.isfile(path) and os.access(path, os.X_OK)):
            module.fail_json(msg='fwload_path %s is no executable file' % path)
        return path
    return module.get_bin_path('fwload', required=True)


def run_fwload(module, argv, password=None, environment=None):
    """Runs `argv` and returns (rc, stdout, stderr). The password reaches
    fwload through its environment variable only; `environment` adds further
    variables (names to values)."""
    update = dict(environment or {})
    if password:
        update[PASSWORD_VARIABLE] = password
    return module.run_command(argv, environ_update=update, check_rc=False)


def identify(module, fwload, product, ip, user=None, password=None, http_port=None,
             station_port=None, timeout=None):
    """(unit, why): what the unit at `ip` runs, as the object `fwload
    identify --json` prints, with 'firmware', 'board' and 'boot_monitor'
    always present (None where unknown); or (None, the reason it could not be
    read). Bad usage (exit status 2) fails the module."""
    argv = [fwload, 'identify', '--product', product, '--ip', ip, '--json']
    if user:
        argv += ['--user', user]
    if http_port:
        argv += ['--http-port', str(http_port)]
    if station_port:
        argv += ['--station-port', str(station_port)]
    if timeout:
        argv += ['--timeout', str(timeout)]
    rc, out, err = run_fwload(module, argv, password=password)
    objects = [e for e in parse_json_lines(out) if 'identified' in e]
    unit = objects[-1] if objects else {}
    if rc == 2:
        module.fail_json(msg='fwload identify: %s' % (last_line(err) or 'bad usage'), rc=rc)
    if rc == 0 and unit.get('identified') is True:
        for key in ('firmware', 'board', 'boot_monitor'):
            unit.setdefault(key, None)
        return unit, None
    why = _text(unit.get('message')) or _text(unit.get('error')) or last_line(err)
    return None, why or 'fwload identify ended with status %d' % rc


def inspect_version(module, fwload, path):
    """(version, exact, why) of the firmware file at `path` on the loader PC,
    as `fwload inspect --json` reads it: the version in dotted numbers
    without the board variant ("3.9.0"), None when the file names none;
    `exact` False for a file whose name stands for a line of versions
    ("3_1_999"); `why` the loader's words when it cannot read the file."""
    rc, out, err = run_fwload(module, [fwload, 'inspect', '--json', path])
    found = [e for e in parse_json_lines(out) if 'version' in e or 'file' in e]
    if rc != 0 or not found:
        return None, False, last_line(err) or 'cannot be inspected'
    info = found[-1]
    match = _VERSION.search(_text(info.get('version')) or '')
    version = match.group(0).replace('_', '.') if match else None
    return version, info.get('version999') is not True, None


def firmware_version(module, fwload, path):
    """inspect_version's (version, exact); a file fwload cannot read fails
    the module with its words."""
    version, exact, why = inspect_version(module, fwload, path)
    if why:
        module.fail_json(msg='firmware %s: %s' % (path, why))
    return version, exact


def unit_argument_spec():
    """The options that reach one unit (those of the `unit` fragment)."""
    return dict(
        product=dict(type='str', required=True, choices=['station', 'switch']),
        ip=dict(type='str', required=True),
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
        http_port=dict(type='int'),
        station_port=dict(type='int'),
        identify_timeout=dict(type='int'),
        fwload_path=dict(type='path'),
    )


class TftpPortLock(object):
    """Holds the loader PC's TFTP port for one load or batch: units fetch
    from one port, so loads that share it run one after another (tasks of
    several units delegated to one PC run at once). Raises OSError with
    errno ETIMEDOUT when the port stays taken `timeout` seconds."""

    def __init__(self, port, timeout, folder=None):
        self.path = os.path.join(folder or tempfile.gettempdir(), 'fwload-tftp-%d.lock' % port)
        self.timeout = timeout
        self.handle = None
        self.waited_s = 0.0

    def __enter__(self):
        try:
            fd = os.open(self.path, os.O_RDONLY | os.O_CREAT, 0o666)
        except OSError:
            # Another user's lock file in a sticky folder can still be locked.
            fd = os.open(self.path, os.O_RDONLY)
        start = time.monotonic()
        while True:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except OSError as error:
                if error.errno not in (errno.EAGAIN, errno.EACCES):
                    os.close(fd)
                    raise
            if time.monotonic() - start >= self.timeout:
                os.close(fd)
                raise OSError(errno.ETIMEDOUT, 'TFTP port still in use after %d s' % self.timeout)
            time.sleep(0.2)
        self.waited_s = time.monotonic() - start
        self.handle = fd
        return self

    def __exit__(self, *exc):
        if self.handle is not None:
            os.close(self.handle)
            self.handle = None
        return False
