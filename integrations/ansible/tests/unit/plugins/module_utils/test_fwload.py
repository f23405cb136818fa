# Reading fwload's JSON lines and the decisions taken from them: what a load
# or batch reported, whether a unit needs a load, and the lock that keeps
# loads on one TFTP port apart.

import errno
import json
import threading
import time

import pytest

from ansible_collections.brantwell.firmware_loader.plugins.module_utils import fwload as fw

# What `fwload load --json` printed for a station whose update script failed,
# with human text and noise mixed in as a log or a wrapper might add it.
FAILED_STATION_LOAD = '\n'.join([
    'warning: Ethernet-only load',
    json.dumps({'kind': 'plan', 'steps': [
        {'name': 'Verify firmware version'}, {'name': 'Create update cfg file'},
        {'name': 'Execute update script'}, {'name': 'Transfer filesystem image'}]}),
    json.dumps({'kind': 'step', 'step': 0, 'name': 'Verify firmware version'}),
    json.dumps({'kind': 'step', 'step': 1, 'name': 'Create update cfg file',
                'ended': {'step': 0, 'state': 'OK', 'note': 'not checked'}}),
    '{"kind": "text", "step": 1, "text": "50%"',  # cut short
    json.dumps({'kind': 'step', 'step': 2, 'ended': {'step': 1, 'state': 'OK'}}),
    json.dumps({'kind': 'check', 'step': 2, 'expected': '0badf00d', 'found': '00000000'}),
    '[1, 2, 3]',
    json.dumps({'kind': 'final', 'step': 2, 'state': 'ERROR', 'note': 'flash locked'}),
    '',
    json.dumps({'kind': 'result', 'result': 0, 'ok': False, 'record': '/r/1.json'}),
])


def test_load_lines_give_steps_states_and_result():
    summary = fw.summarize_load(fw.parse_json_lines(FAILED_STATION_LOAD))
    assert summary['steps'] == [
        {'name': 'Verify firmware version', 'state': 'OK', 'note': 'not checked'},
        {'name': 'Create update cfg file', 'state': 'OK'},
        {'name': 'Execute update script', 'state': 'ERROR', 'note': 'flash locked',
         'check': {'expected': '0badf00d', 'found': '00000000'}},
        {'name': 'Transfer filesystem image', 'state': 'not run'},
    ]
    assert (summary['result'], summary['ok'], summary['record']) == (0, False, '/r/1.json')
    assert summary['final_note'] == 'flash locked'


def test_a_load_that_stops_without_its_result_line_is_no_success():
    # Killed, crashed or cut off: the step it was in stays "working".
    text = '\n'.join(FAILED_STATION_LOAD.splitlines()[:4])
    summary = fw.summarize_load(fw.parse_json_lines(text))
    assert summary['ok'] is False and summary['result'] is None
    assert [s['state'] for s in summary['steps']] == ['OK', 'working', 'not run', 'not run']


@pytest.mark.parametrize('line', [
    '{"kind": "result", "result": 1, "ok": "true"}',      # ok must be JSON true
    '{"kind": "result", "result": true, "ok": false}',    # a bool is no result code
    '{"kind": "step", "step": 99, "ended": {"step": -1, "state": "OK"}}',
    '{"kind": "step", "step": true}',
    '{"kind": "final", "step": "0", "state": "OK"}',
    '{"kind": "plan", "steps": "many"}',
    '{"kind": "plan", "steps": [7, null]}',
    '[' * 100000 + ']' * 100000,
    '{"a": ' * 50000 + '1' + '}' * 50000,
    '{"kind": "text", "text": "' + 'x' * (fw.MAX_LINE + 1) + '"}',
])
def test_hostile_lines_neither_crash_nor_invent_a_success(line):
    summary = fw.summarize_load(fw.parse_json_lines(line))
    assert summary['ok'] is False
    assert all(step['state'] == 'not run' for step in summary['steps'])


def test_batch_table_comes_from_the_closing_line():
    lines = [
        {'kind': 'step', 'unit': 'sw1', 'step': 0},
        {'kind': 'result', 'unit': 'sw1', 'result': 1, 'ok': True},
        {'kind': 'batch', 'result': 1, 'record': '/r/batch.json', 'units': [
            {'unit': 'sw1', 'ip': '10.0.0.1', 'result': 'loaded', 'firmware_before': '3.7.2',
             'firmware_after': '3.9.0', 'duration_s': 4.5, 'record': '/r/1.json', 'extra': 1},
            {'unit': 'sw2', 'result': 'failed', 'message': 'Unable to login'},
            'garbage',
        ]},
    ]
    summary = fw.summarize_batch(fw.parse_json_lines('\n'.join(json.dumps(x) for x in lines)))
    assert (summary['result'], summary['record']) == (1, '/r/batch.json')
    assert [u['unit'] for u in summary['units']] == ['sw1', 'sw2']
    assert set(summary['units'][0]) == set(fw.BATCH_UNIT_KEYS)
    assert summary['units'][1]['firmware_after'] is None
    assert len(summary['events']) == 2
    assert fw.summarize_batch([])['result'] is None


@pytest.mark.parametrize('running, target, force, load', [
    ('3.9.0', '3.9.0', False, False),
    ('3.2', '3.2.0', False, False),        # trailing zeros are the same version
    ('3.9.0', '3_9_0', False, False),
    ('V3.9.0 (build 7)', '3.9.0', False, False),
    ('3.9.0', '3.9.0', True, True),        # forced
    ('3.7.2', '3.9.0', False, True),
    ('3.10', '3.1', False, True),          # numbers, not text
    ('4.0', '3.9.0', False, True),         # a downgrade is a load too
    (None, '3.9.0', False, True),          # unit not identified
    ('3.9.0', None, False, True),          # file without a version
    ('unknown', '3.9.0', False, True),
])
def test_load_decision(running, target, force, load):
    decided, reason = fw.decide_load(running, target, force)
    assert decided is load
    assert reason


@pytest.mark.parametrize('target, after, exact, problem', [
    ('3.9.0', '3.9', True, False),
    ('3.9.0', '3.7.2', True, True),        # the unit kept its old firmware
    ('3.9.0', None, True, False),          # not identified after: proves nothing
    ('3.1.999', '3.1.4', False, False),    # the file names a line of versions
    (None, '3.7.2', True, False),
])
def test_check_after_a_reported_success(target, after, exact, problem):
    assert (fw.after_load_problem(target, after, exact) is not None) is problem


def test_failure_message_prefers_the_loaders_last_box():
    summary = {'final_note': 'flash locked', 'result': 0}
    record = {'messages': [{'caption': 'Warning', 'text': 'Continue?'},
                           {'caption': '', 'text': 'Unable to communicate / login.'}]}
    assert fw.failure_message(summary, record, 'x\n') == 'Unable to communicate / login.'
    assert fw.failure_message(summary, {'messages': 'none'}, '') == 'flash locked'
    assert fw.failure_message({'result': -1}, {}, 'first\nlast words\n\n') == 'last words'
    assert '-1' in fw.failure_message({'result': -1}, {}, '')


def test_records_that_are_missing_or_broken_read_as_empty(tmp_path):
    broken = tmp_path / 'broken.json'
    broken.write_text('{"messages": [')
    listed = tmp_path / 'list.json'
    listed.write_text('[1]')
    good = tmp_path / 'good.json'
    good.write_text(json.dumps({'messages': [{'caption': 'c', 'text': 't'}, 5]}))
    assert fw.read_record(None) == {} and fw.read_record(str(tmp_path / 'none.json')) == {}
    assert fw.read_record(str(broken)) == {} and fw.read_record(str(listed)) == {}
    assert fw.read_record(str(good), limit=4) == {}
    assert fw.record_messages(fw.read_record(str(good))) == [{'caption': 'c', 'text': 't'}]


def test_loads_on_one_tftp_port_wait_for_each_other(tmp_path):
    with fw.TftpPortLock(16969, 5, folder=str(tmp_path)):
        with pytest.raises(OSError) as raised:
            with fw.TftpPortLock(16969, 0.3, folder=str(tmp_path)):
                pass
        assert raised.value.errno == errno.ETIMEDOUT
        # Another port is free.
        with fw.TftpPortLock(16970, 0.3, folder=str(tmp_path)):
            pass

    # A waiting load goes on as soon as the one before it ends.
    first = fw.TftpPortLock(16969, 5, folder=str(tmp_path)).__enter__()
    threading.Timer(0.5, first.__exit__).start()
    start = time.monotonic()
    with fw.TftpPortLock(16969, 5, folder=str(tmp_path)) as second:
        assert 0.3 < time.monotonic() - start < 4
        assert second.waited_s > 0.3
