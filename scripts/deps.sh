#!/usr/bin/env bash
# Installs what building, testing and running the tools needs on Debian 12 (as root, apt).
set -euo pipefail
packages=(
  # building
  cmake g++ make pkg-config python3 libgtest-dev clang libc++-dev clang-format
  libxcb1-dev libxcb-randr0-dev libxcb-res0-dev libxcb-ewmh-dev libxcb-icccm4-dev
  libxcb-xinput-dev libxcb-xkb-dev libxcb-shape0-dev libxcb-xfixes0-dev libxcb-cursor-dev
  libxcb-record0-dev
  libxkbcommon-dev libxkbcommon-x11-dev libatspi2.0-dev libdbus-1-dev libglib2.0-dev
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng
  libcairo2-dev libpango1.0-dev rapidjson-dev
  # fonts for drawing and for the text-recognition test images
  fonts-dejavu-core fonts-liberation fonts-noto-core
  # process tests, fixtures and benchmarks
  xvfb xauth xdotool wmctrl openbox x11-xserver-utils x11-utils xtrace xinput xcompmgr slop x11-xkb-utils
  strace  # counting the connections a tool opens
  dbus dbus-x11 at-spi2-core python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0 python3-pyatspi
  python3-jsonschema  # the process tests check every output against schemas/
  chromium imagemagick
  # the Wayland backend and its tests: a headless sway (with XWayland) and its clients
  libwayland-dev libwayland-bin wayland-protocols sway xwayland grim foot wtype xrestop
  xkb-data  # the "us" keymap of the virtual keyboard fixture
)
"$(cd "$(dirname "$0")" && pwd)/apt-install" deps "${packages[@]}"
# Font caches up to date before anything draws text: otherwise the first program to use
# fontconfig (a window manager starting under a test) spends seconds scanning every font.
command -v fc-cache >/dev/null && fc-cache >/dev/null 2>&1 || true

# Whatever installed them, the build and the tests need these: a missing one stops here, naming
# the package to install, rather than deep inside CMake or a test.
modules=(  # pkg-config module = Debian package
  xcb=libxcb1-dev xcb-randr=libxcb-randr0-dev xcb-res=libxcb-res0-dev
  xcb-ewmh=libxcb-ewmh-dev xcb-icccm=libxcb-icccm4-dev xcb-xinput=libxcb-xinput-dev
  xcb-xkb=libxcb-xkb-dev xcb-shape=libxcb-shape0-dev xcb-xfixes=libxcb-xfixes0-dev
  xcb-cursor=libxcb-cursor-dev xcb-record=libxcb-record0-dev xkbcommon=libxkbcommon-dev xkbcommon-x11=libxkbcommon-x11-dev
  atspi-2=libatspi2.0-dev dbus-1=libdbus-1-dev glib-2.0=libglib2.0-dev gio-2.0=libglib2.0-dev
  tesseract=libtesseract-dev lept=libleptonica-dev cairo=libcairo2-dev
  wayland-client=libwayland-dev wayland-cursor=libwayland-dev wayland-protocols=wayland-protocols
  pangocairo=libpango1.0-dev RapidJSON=rapidjson-dev gtest=libgtest-dev
)
programs=(  # program = Debian package
  cmake=cmake g++=g++ clang++=clang clang-format=clang-format pkg-config=pkg-config python3=python3
  tesseract=tesseract-ocr Xvfb=xvfb xdotool=xdotool wmctrl=wmctrl openbox=openbox
  xrandr=x11-xserver-utils xprop=x11-utils xtrace=xtrace xinput=xinput xcompmgr=xcompmgr
  slop=slop setxkbmap=x11-xkb-utils sway=sway swaymsg=sway grim=grim foot=foot
  wtype=wtype wayland-scanner=libwayland-bin xhost=x11-xserver-utils dbus-daemon=dbus dbus-launch=dbus-x11 import=imagemagick chromium=chromium
)
problems=()
for entry in "${modules[@]}"; do
  pkg-config --exists "${entry%%=*}" 2>/dev/null ||
    problems+=("pkg-config module ${entry%%=*} is missing: install the package ${entry#*=}")
done
for entry in "${programs[@]}"; do
  command -v "${entry%%=*}" >/dev/null ||
    problems+=("program ${entry%%=*} is missing: install the package ${entry#*=}")
done
[ -x /usr/libexec/at-spi-bus-launcher ] ||
  problems+=("/usr/libexec/at-spi-bus-launcher is missing: install the package at-spi2-core")
/usr/bin/python3 -c 'import gi; gi.require_version("Gtk", "3.0"); gi.require_version("Atspi", "2.0")' 2>/dev/null ||
  problems+=("PyGObject with GTK 3 and AT-SPI is missing: install python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0")
/usr/bin/python3 -c 'from jsonschema import Draft202012Validator' 2>/dev/null ||
  problems+=("jsonschema with draft 2020-12 is missing: install the package python3-jsonschema")
[ -s /usr/share/tesseract-ocr/5/tessdata/eng.traineddata ] ||
  problems+=("Tesseract's English model is missing: install the package tesseract-ocr-eng")
if [ ${#problems[@]} -gt 0 ]; then
  printf 'deps: %s\n' "${problems[@]}" >&2
  exit 1
fi
