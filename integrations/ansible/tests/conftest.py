# Makes this source tree importable and findable as the collection
# brantwell.firmware_loader: a temporary ansible_collections/ folder whose
# brantwell/firmware_loader entry links here.

import os
import shutil
import sys
import tempfile

import pytest

COLLECTION = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

_root = tempfile.mkdtemp(prefix='fwload-collections-')
os.makedirs(os.path.join(_root, 'ansible_collections', 'brantwell'))
os.symlink(COLLECTION, os.path.join(_root, 'ansible_collections', 'brantwell', 'firmware_loader'))
sys.path.insert(0, _root)


def pytest_unconfigure(config):
    shutil.rmtree(_root, ignore_errors=True)


@pytest.fixture(scope='session')
def collections_path():
    """A collections path on which brantwell.firmware_loader is this tree."""
    return _root
