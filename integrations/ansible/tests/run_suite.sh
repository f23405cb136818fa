#!/bin/sh
# Runs one suite of the collection's tests with Debian's Python and pytest:
#   run_suite.sh unit|collection|fleet
# Exits 77 (a skip for CTest) with the reason when ansible-core or pytest is
# not installed; scripts/deps.sh lists both for the test run.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
if [ ! -x "$python" ] || ! "$python" -c 'import ansible, pytest' 2> /dev/null; then
  echo "SKIPPED: Debian's ansible-core and python3-pytest are not installed"
  exit 77
fi
for tool in ansible-playbook ansible-doc ansible-galaxy; do
  if ! command -v "$tool" > /dev/null; then
    echo "SKIPPED: $tool is not installed (Debian package ansible-core)"
    exit 77
  fi
done
case "${1:-}" in
  unit) target="$here/unit" ;;
  collection) target="$here/integration/test_collection.py" ;;
  fleet) target="$here/integration/test_fleet.py" ;;
  *) echo "usage: run_suite.sh unit|collection|fleet" >&2; exit 2 ;;
esac
# No byte code or pytest cache in the source tree: it would ship in the tarball.
export PYTHONDONTWRITEBYTECODE=1
exec "$python" -m pytest -q -p no:cacheprovider -rs "$target"
