# -*- coding: utf-8 -*-
# Test aid: writes each host's task results, one JSON object a line, to the
# file named by FLEET_RESULTS, so the fleet test judges what Ansible itself
# recorded per host (changed, failed, the module's return values).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
name: fleet_results
type: notification
short_description: Task results per host as JSON lines (for the tests)
description:
  - Appends one JSON object per task result to the file named by C(FLEET_RESULTS).
'''

import json
import os

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'notification'
    CALLBACK_NAME = 'fleet_results'
    CALLBACK_NEEDS_ENABLED = True

    def _write(self, result, status):
        path = os.environ.get('FLEET_RESULTS')
        if not path:
            return
        values = dict(result._result)
        line = {'host': result._host.get_name(), 'task': result._task.get_name(),
                'status': status, 'changed': bool(values.get('changed')), 'result': values}
        with open(path, 'a') as handle:
            handle.write(json.dumps(line, default=str) + '\n')

    def v2_runner_on_ok(self, result):
        self._write(result, 'ok')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._write(result, 'failed')

    def v2_runner_on_skipped(self, result):
        self._write(result, 'skipped')

    def v2_runner_on_unreachable(self, result):
        self._write(result, 'unreachable')
