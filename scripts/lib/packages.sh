# Debian 12 and 13 packages, sourced by scripts/setup and scripts/test.

# To build Brontide.
BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config git
  libasio-dev libpipewire-0.3-dev libspa-0.2-dev
  libavcodec-dev libavutil-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  libavahi-client-dev libsystemd-dev libglib2.0-dev libsecret-1-dev
  qt6-base-dev qt6-declarative-dev qt6-svg-dev qt6-l10n-tools qt6-tools-dev-tools
  librsvg2-bin
)

# To run it on a desktop.
RUN_PACKAGES=(
  pipewire pipewire-bin wireplumber pipewire-pulse libspa-0.2-modules
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  avahi-daemon libnss-mdns dbus dbus-user-session
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtquick-templates
  qml6-module-qtquick-shapes qml6-module-qt5compat-graphicaleffects qml6-module-qt-labs-platform
  libqt6svg6 qt6-wayland libgl1-mesa-dri
)

# To build the Debian package (scripts/package).
PACKAGE_PACKAGES=(build-essential dpkg-dev debhelper lintian)

# Only for the tests and benchmarks: receivers, a DNS-SD responder, displays (X and Wayland), a tray host (the
# panel benchmark), sound analysis, a reference encoder.
TEST_PACKAGES=(
  shairport-sync avahi-daemon avahi-utils xvfb xdotool x11-utils trayer weston sox ffmpeg
  pulseaudio-utils gstreamer1.0-tools qml6-module-qttest python3 python3-numpy imagemagick iproute2
  libgtest-dev libgmock-dev libbenchmark-dev gnome-keyring
)

# What differs by release.
case "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" in
  bookworm) ;;
  *)
    # From Qt 6.8 the SVG image plugin is a package of its own: without it the icons do not load and the QML
    # reports errors.
    RUN_PACKAGES+=(qt6-svg-plugins)
    ;;
esac

run_as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whatever of the given packages is missing; does nothing when all are there.
install_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  run_as_root apt-get update -q
  run_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}
