#!/bin/sh
# Builds the Debian package of a Linux build and the ZIP of a Windows build
# with cpack, and checks what an operator would get: the .deb holds the
# four programs, their manual pages and the README, unpacks and installs
# into a scratch root, and its VNloader runs and prints its version; the
# ZIP holds VNloader.exe, VNsim.exe, VNinfo.exe, VNfleet.exe and README.md.
# Usage: check-packages.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
# ("-" for either skips that package). The packages are left in
# <build dir>/packages.
set -eu
[ $# -eq 2 ] || { echo "usage: $0 LINUX_BUILD_DIR WINDOWS_BUILD_DIR" >&2; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "check-packages: FAILED: $*" >&2
  failures=$((failures + 1))
}
ok() {
  echo "check-packages: ok: $*"
}

# Builds the programs (cpack does not) and makes the package in <dir>/packages.
make_package() {
  dir=$1 generator=$2
  cmake --build "$dir" --target VNloader VNsim VNinfo VNfleet >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log"; fail "building the programs in $dir"; return 1; }
  rm -rf "$dir/packages"
  (cd "$dir" && cpack -G "$generator" -B "$dir/packages") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack -G $generator in $dir"; return 1; }
}

# `VNloader -v -bogus` prints the version, then the usage text, and ends
# with status 1 before any network mode starts.
check_version() {
  program=$1 where=$2
  set +e
  out=$(timeout 20 "$program" -v -bogus 2>&1)
  status=$?
  set -e
  first=$(printf '%s\n' "$out" | head -n 1)
  if [ "$status" -eq 1 ] && [ "$first" = "V2.2" ] &&
     printf '%s\n' "$out" | grep -q '^usage: vexaNode Loader VNloader$'; then
    ok "$where: VNloader -v -bogus prints V2.2 and its usage, status 1"
  else
    fail "$where: VNloader -v -bogus gave status $status and: $out"
  fi
}

check_deb() {
  dir=$(cd "$1" && pwd)
  make_package "$dir" DEB || return 0
  deb=$(ls "$dir"/packages/*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || { fail "no .deb in $dir/packages"; return 0; }
  ok "built $deb"

  dpkg-deb -c "$deb" | awk '{ print $NF }' >"$scratch/deb-contents"
  for path in ./usr/bin/VNloader ./usr/bin/VNsim ./usr/bin/VNinfo ./usr/bin/VNfleet \
      ./usr/share/man/man1/VNloader.1 ./usr/share/man/man1/VNsim.1 \
      ./usr/share/man/man1/VNinfo.1 ./usr/share/man/man1/VNfleet.1 \
      ./usr/share/doc/vnloader/README.md; do
    grep -qx "$path" "$scratch/deb-contents" || fail "$deb lacks $path"
  done
  ok "$deb lists the programs, manual pages and README"
  [ "$(dpkg-deb -f "$deb" Package)" = vnloader ] || fail "$deb is not named vnloader"

  dpkg-deb -x "$deb" "$scratch/unpacked"
  check_version "$scratch/unpacked/usr/bin/VNloader" "dpkg-deb -x"

  # A real install, into a scratch root with a dpkg database of its own.
  # The runtime libraries it depends on are not in that database.
  root="$scratch/root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  : >"$root/var/lib/dpkg/status"
  : >"$root/var/lib/dpkg/available"
  if dpkg --root="$root" --force-not-root --force-depends --log=/dev/null -i "$deb" \
      >"$scratch/dpkg.log" 2>&1; then
    status=$(dpkg --root="$root" -s vnloader 2>/dev/null | sed -n 's/^Status: //p')
    [ "$status" = "install ok installed" ] || fail "dpkg --root: vnloader is '$status'"
    check_version "$root/usr/bin/VNloader" "dpkg -i --root"
  else
    echo "check-packages: note: dpkg -i --root did not work here; the dpkg-deb -x check stands:"
    cat "$scratch/dpkg.log"
  fi
}

# Prints the names in a ZIP archive, one a line.
zip_names() {
  if ! command -v unzip >/dev/null 2>&1 && command -v apt-get >/dev/null 2>&1 &&
     [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y unzip >/dev/null 2>&1 || true
  fi
  if command -v unzip >/dev/null 2>&1; then
    unzip -Z1 "$1"
  else
    python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"
  fi
}

check_zip() {
  dir=$(cd "$1" && pwd)
  make_package "$dir" ZIP || return 0
  zip=$(ls "$dir"/packages/*.zip 2>/dev/null | head -n 1)
  [ -n "$zip" ] || { fail "no .zip in $dir/packages"; return 0; }
  ok "built $zip"
  zip_names "$zip" >"$scratch/zip-contents" || { fail "cannot list $zip"; return 0; }
  for name in VNloader.exe VNsim.exe VNinfo.exe VNfleet.exe README.md; do
    grep -Eq "(^|/)$name\$" "$scratch/zip-contents" || fail "$zip lacks $name"
  done
  ok "$zip lists VNloader.exe, VNsim.exe, VNinfo.exe, VNfleet.exe and README.md"
}

[ "$1" = - ] || check_deb "$1"
[ "$2" = - ] || check_zip "$2"

if [ "$failures" -ne 0 ]; then
  echo "check-packages: $failures check(s) failed"
  exit 1
fi
echo "check-packages: all package checks passed"
