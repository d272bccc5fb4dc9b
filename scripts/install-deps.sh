#!/bin/sh
# Installs what building and testing needs, when it is missing. With
# --native, only what the Linux build and a loopback run need; with
# --ansible, what the many-sites leg runs: Ansible, and the SSH server and
# sudo of its site hosts (ansible-lint where Debian has it).
set -e
packages="cmake g++ make googletest iproute2 util-linux binutils srecord libssl-dev nlohmann-json3-dev"
case "${1:-}" in
  --native) ;;
  --ansible) packages="ansible-core python3 python3-apt openssh-server openssh-client sudo" ;;
  *) packages="$packages g++-mingw-w64-x86-64-posix mingw-w64 wine64 openssl" ;;
esac
if [ "${1:-}" = "--ansible" ] && ! command -v ansible-lint >/dev/null; then
  apt-get update >/dev/null
  apt-cache show ansible-lint >/dev/null 2>&1 && packages="$packages ansible-lint"
fi
need=""
for pkg in $packages; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need="$need $pkg"
done
if [ -n "$need" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y $need
fi
