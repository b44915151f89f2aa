#!/usr/bin/env bash
# Installs what building, testing and running the tools needs on Debian 12 (as root, apt).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Building: the list scripts/package.sh installs too, with the pkg-config modules it gives.
build=()
modules=()  # pkg-config module = Debian package
while read -r package lookups; do
  build+=("$package")
  for lookup in $lookups; do
    [[ $lookup == *:* ]] || modules+=("$lookup=$package")
  done
done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$here/build-packages")
modules+=(xcb-shape=libxcb-shape0-dev xcb-xfixes=libxcb-xfixes0-dev gtest=libgtest-dev)

packages=(
  "${build[@]}"
  # building the tests, the fuzz targets and the macOS check; the source checks
  python3 libgtest-dev clang libc++-dev clang-format libxcb-shape0-dev libxcb-xfixes0-dev
  tesseract-ocr tesseract-ocr-eng
  # fonts for drawing and for the text-recognition test images
  fonts-dejavu-core fonts-liberation fonts-noto-core
  # process tests, fixtures and benchmarks
  xvfb xauth xdotool wmctrl openbox x11-xserver-utils x11-utils xtrace xinput xcompmgr slop x11-xkb-utils
  strace  # counting the connections a tool opens
  dbus dbus-x11 at-spi2-core python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0 python3-pyatspi
  python3-jsonschema  # the process tests check every output against schemas/
  chromium imagemagick
  # the Wayland backend's tests: a headless sway (with XWayland) and its clients
  sway xwayland grim foot wtype xrestop
  kwin-wayland plasma-wayland-protocols  # and a headless KWin, with its fake input protocol
  # the GNOME Shell tests: a headless shell with our extension, its settings written with dconf
  gnome-shell mutter dconf-cli
  xkb-data  # the "us" keymap of the virtual keyboard fixture
)
"$here/apt-install" deps "${packages[@]}"
# Font caches up to date before anything draws text: otherwise the first program to use
# fontconfig (a window manager starting under a test) spends seconds scanning every font.
command -v fc-cache >/dev/null && fc-cache >/dev/null 2>&1 || true

# Whatever installed them, the build and the tests need these: a missing one stops here, naming
# the package to install, rather than deep inside CMake or a test.
programs=(  # program = Debian package
  cmake=cmake g++=g++ clang++=clang clang-format=clang-format pkg-config=pkg-config python3=python3
  tesseract=tesseract-ocr Xvfb=xvfb xdotool=xdotool wmctrl=wmctrl openbox=openbox
  xrandr=x11-xserver-utils xprop=x11-utils xtrace=xtrace xinput=xinput xcompmgr=xcompmgr
  slop=slop setxkbmap=x11-xkb-utils sway=sway swaymsg=sway grim=grim foot=foot
  wtype=wtype kwin_wayland=kwin-wayland gnome-shell=gnome-shell dconf=dconf-cli wayland-scanner=libwayland-bin xhost=x11-xserver-utils dbus-daemon=dbus dbus-launch=dbus-x11 import=imagemagick chromium=chromium
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
