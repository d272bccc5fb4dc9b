#!/bin/sh
# Runs a command in a private network namespace with only loopback up, so
# tests may bind the fixed ports side by side and reach no real device.
if [ -z "$VN_IN_NETNS" ]; then
  VN_IN_NETNS=1 exec unshare -n "$0" "$@"
fi
ip link set lo up || exit 1
exec "$@"
