#!/usr/bin/env bash
# On a clean Debian 12 machine (as root): installs the package with apt, shows that every program
# finds its libraries with nothing but the package's dependencies, then installs what the check
# itself needs and runs every program on a private Xvfb (tests/package/check.py).
#
#   tests/package/check.sh PACKAGE.deb
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$(realpath "${1:?usage: tests/package/check.sh PACKAGE.deb}")
export DEBIAN_FRONTEND=noninteractive
libexec=/usr/libexec/orvane
schemas=/usr/share/orvane/schemas

apt-get update -qq
# Recommends left out: the package must work with its Depends alone.
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
echo "installed: $(dpkg-query -W -f='${Package} ${Version} ${Architecture}, Installed-Size ${Installed-Size} KiB' orvane-tools)"
du -sk --apparent-size $(dpkg -L orvane-tools | while read -r f; do [ -f "$f" ] && echo "$f"; done) |
  awk '{ s += $1 } END { printf "files of the package: %d KiB\n", s }'

failed=0
count=$(find "$libexec" -maxdepth 1 -type f -perm -u+x | wc -l)
[ "$count" -eq 7 ] || { echo "FAIL: $libexec holds $count programs, not 7"; failed=1; }
# Before anything else is installed: every program's libraries, and the ones the selector
# loads only when a selection starts (named in the program itself).
for p in "$libexec"/*; do
  if ldd "$p" | grep -q 'not found'; then
    echo "FAIL: ldd $p:"; ldd "$p" | grep 'not found'; failed=1
  else
    echo "ok:   ldd $(basename "$p"): $(ldd "$p" | wc -l) libraries, none missing"
  fi
done
mapfile -t lazy < <(grep -a -o -E 'lib[a-z0-9_+.-]+\.so\.[0-9]+' "$libexec/orvane-capture-selector" | sort -u)
[ ${#lazy[@]} -gt 0 ] || { echo "FAIL: no library names found in the selector"; failed=1; }
known=$(ldconfig -p)
for lib in "${lazy[@]}"; do
  if grep -q -F "$lib (" <<<"$known"; then
    echo "ok:   $lib is installed"
  else
    echo "FAIL: $lib, which the selector loads, is not installed"; failed=1
  fi
done
for data in /usr/share/tesseract-ocr/5/tessdata/eng.traineddata \
            /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf; do
  [ -s "$data" ] && echo "ok:   $data" || { echo "FAIL: $data is missing"; failed=1; }
done

extension=/usr/share/gnome-shell/extensions/desktop-tools@orvane.dev
if [ -s "$extension/extension.js" ] &&
   grep -q '"uuid": "desktop-tools@orvane.dev"' "$extension/metadata.json" 2>/dev/null; then
  echo "ok:   the GNOME Shell extension is in $extension"
else
  echo "FAIL: no GNOME Shell extension in $extension"; failed=1
fi

# What the check itself needs (none of it is a dependency of the package).
check_packages=(xvfb xdotool x11-utils python3 imagemagick)
ls "$schemas"/*.json >/dev/null 2>&1 && check_packages+=(python3-jsonschema)
apt-get install -y -qq --no-install-recommends "${check_packages[@]}" >/dev/null
python3 "$here/check.py" "$libexec" "$schemas" || failed=1
[ "$failed" -eq 0 ] && echo "package check: passed" || echo "package check: FAILED"
exit "$failed"
