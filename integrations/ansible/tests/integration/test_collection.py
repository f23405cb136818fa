# The collection as users get it: the project's script builds the tarball,
# ansible-galaxy installs it into an empty folder, and ansible-doc shows each
# module's documentation, examples and return values from there.

import os
import subprocess
import tarfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get('FWL_SOURCE_DIR') or os.path.abspath(os.path.join(HERE, '../../../..'))
MODULES = ('fwload_facts', 'fwload_load', 'fwload_batch')


def run(argv, env):
    done = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=120)
    assert done.returncode == 0, '%s\n%s' % (' '.join(argv), done.stdout)
    return done.stdout


def test_built_tarball_installs_and_documents_every_module(tmp_path):
    env = dict(os.environ, ANSIBLE_HOME=str(tmp_path / 'home'),
               ANSIBLE_LOCAL_TEMP=str(tmp_path / 'tmp'), ANSIBLE_NOCOLOR='1',
               ANSIBLE_CONFIG=str(tmp_path / 'none.cfg'))
    run([os.path.join(SOURCE, 'scripts', 'ansible-collection'), str(tmp_path / 'dist')], env)
    tarballs = os.listdir(str(tmp_path / 'dist'))
    assert tarballs == ['brantwell-firmware_loader-1.0.0.tar.gz']
    tarball = str(tmp_path / 'dist' / tarballs[0])
    with tarfile.open(tarball) as packed:
        names = packed.getnames()
    assert 'docs/rolling-upgrade.md' in names
    assert not [n for n in names if '__pycache__' in n or n.endswith('.pyc')]

    installed = tmp_path / 'collections'
    run(['ansible-galaxy', 'collection', 'install', '-p', str(installed), tarball], env)
    env['ANSIBLE_COLLECTIONS_PATH'] = str(installed)
    listed = run(['ansible-doc', '-l', 'brantwell.firmware_loader'], env)
    for module in MODULES:
        name = 'brantwell.firmware_loader.' + module
        assert name in listed
        shown = run(['ansible-doc', name], env)
        # Options from the shared fragment, the examples and the return values.
        for part in ('fwload_path', 'EXAMPLES:', 'RETURN VALUES:'):
            assert part in shown, '%s: no %s' % (module, part)
    assert 'FWLOAD_PASSWORD' in run(['ansible-doc', 'brantwell.firmware_loader.fwload_load'], env)
