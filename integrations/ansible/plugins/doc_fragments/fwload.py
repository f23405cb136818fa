# -*- coding: utf-8 -*-
# Options every fwload_* module shares: which fwload runs, and how a unit is
# reached.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  fwload_path:
    description:
      - Path of the C(fwload) program on the managed host (the site's loader PC).
      - Without it the C(fwload) found on the managed host's C(PATH) runs.
    type: path
notes:
  - The modules run C(fwload) on the managed host. Units are reached from the PC on
    their own Ethernet segment, so run these tasks on that PC, usually with
    C(delegate_to) from a play over the units.
  - The modules read the JSON lines C(fwload) prints with C(--json); they never read
    its human text.
requirements:
  - C(fwload) (Firmware Loader) on the managed host.
'''

    UNIT = r'''
options:
  product:
    description:
      - What the unit is.
    type: str
    required: true
    choices: [station, switch]
  ip:
    description:
      - The unit's IPv4 address.
    type: str
    required: true
  user:
    description:
      - Login name on a switch's web interface.
    type: str
  password:
    description:
      - Password on a switch's web interface.
      - It reaches C(fwload) through the environment variable C(FWLOAD_PASSWORD), never
        on its command line, and is kept out of Ansible's output and logs.
      - Without it a C(FWLOAD_PASSWORD) set on the managed host applies.
    type: str
  http_port:
    description:
      - TCP port of a switch's web interface, when not 80 (simulated switches).
    type: int
  station_port:
    description:
      - UDP port of a station's station link, when not 5454 (simulated stations).
    type: int
  identify_timeout:
    description:
      - Seconds each question to the unit may take when it is identified (the loader's
        default is 10 for a switch and 2 for a station). Raise it for slow links.
    type: int
'''
