# Sourced by the other scripts: installs the Debian packages the build, the
# tests and the demo need, and only when one is missing (no apt otherwise).
FWL_PACKAGES=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-serialport-dev libgl-dev
  libcurl4-openssl-dev
  libgtest-dev libgmock-dev zlib1g-dev
  p7zip-full
  curl tftp-hpa atftp busybox
  iproute2
  dpkg-dev
)

# Only the test run needs these: the Ansible collection's tests
# (integrations/ansible) run playbooks with Debian's ansible-core and its
# Python tests with python3-pytest.
FWL_TEST_PACKAGES=(ansible-core python3-pytest)

# What scripts/package needs besides the build: the package checkers and
# what makes its icons. The test run builds and checks the package with
# dpkg-dev alone (dpkg-deb, dpkg-shlibdeps), so these stay out of the list above.
FWL_PACKAGE_TOOLS=(
  lintian desktop-file-utils appstream librsvg2-bin libcap2-bin
)

# Only scripts/screenshots needs these: a virtual X display for the pictures
# of the wizard (the tests use Qt's offscreen platform), and fonts with the
# usual metrics.
FWL_SCREENSHOT_PACKAGES=(xvfb xauth fonts-dejavu-core)

fwl_missing_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  echo "${missing[@]}"
}

fwl_install_packages() {
  local missing
  missing=$(fwl_missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "Installing missing packages: $missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}
