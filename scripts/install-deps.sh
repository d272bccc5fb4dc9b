#!/bin/sh
# Installs what building and testing every leg needs, when it is missing.
set -e
need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake g++ make googletest g++-mingw-w64-x86-64-posix mingw-w64 wine64 iproute2 util-linux openssl; do
  have "$pkg" || need="$need $pkg"
done
if [ -n "$need" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y $need
fi
