#!/bin/sh
# Installs what building and testing needs, when it is missing. With
# --native, only what the Linux build and a loopback run need.
set -e
packages="cmake g++ make googletest iproute2 util-linux binutils srecord libssl-dev"
[ "${1:-}" = "--native" ] || packages="$packages g++-mingw-w64-x86-64-posix mingw-w64 wine64 openssl"
need=""
for pkg in $packages; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need="$need $pkg"
done
if [ -n "$need" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y $need
fi
