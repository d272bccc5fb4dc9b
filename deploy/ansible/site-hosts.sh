# Site hosts on this machine for test-sites.sh and bench/sites.sh (sourced,
# inside a private network namespace): site host n is an sshd on 127.0.0.1n
# in a mount namespace of its own, with its own /root, /home, /run and /tmp
# and private layers over /etc, /usr and /var (so its own /var/lib and dpkg
# database, and a package installed there stays there). Login with the key
# $site_work/id as root, or as the unprivileged vnsite, who may sudo.
#   site_hosts_start WORK COUNT; site_sshd_up N; site_sshd_down N;
#   site_hosts_inventory > hosts.yml (site-1 as root, the rest as vnsite
#   with become); site_hosts_stop (also what still runs on them).
site_holders=""
site_sshds=""

site_hosts_start() {
  site_work=$1
  ssh-keygen -q -t ed25519 -N '' -f "$site_work/id" </dev/null >/dev/null
  cat >"$site_work/host.sh" <<'EOF'
set -eu
h=$1 address=$2 key=$3
for d in etc usr var; do
  mount -t overlay overlay -o "lowerdir=/$d,upperdir=$h/up/$d,workdir=$h/wk/$d" "/$d"
done
for d in root home run; do mount --bind "$h/$d" "/$d"; done
mkdir -p /run/sshd /root/.ssh
cp "$key" /root/.ssh/authorized_keys
id vnsite >/dev/null 2>&1 || useradd -m -s /bin/sh vnsite
usermod -p '*' vnsite  # key login only, yet not a locked account
mkdir -p /home/vnsite/.ssh
cp "$key" /home/vnsite/.ssh/authorized_keys
chown -R vnsite: /home/vnsite/.ssh
echo 'vnsite ALL=(ALL) NOPASSWD: ALL' >/etc/sudoers.d/vnsite
chmod 440 /etc/sudoers.d/vnsite
ssh-keygen -q -t ed25519 -N '' -f /etc/ssh/vn_host_key </dev/null >/dev/null
cat >/etc/ssh/vn_sshd_config <<END
ListenAddress $address
HostKey /etc/ssh/vn_host_key
PidFile /run/vn_sshd.pid
UsePAM no
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
Subsystem sftp /usr/lib/openssh/sftp-server
END
mount --bind "$h/tmp" /tmp
touch /run/vn_ready
exec sleep 100000
EOF
  for n in $(seq "$2"); do
    h=$site_work/host-$n
    mkdir -p "$h/up/etc" "$h/up/usr" "$h/up/var" "$h/wk/etc" "$h/wk/usr" "$h/wk/var" \
      "$h/root" "$h/home" "$h/run" "$h/tmp"
    chmod 700 "$h/root"
    chmod 1777 "$h/tmp"
    unshare -m --propagation private sh "$site_work/host.sh" "$h" "127.0.0.1$n" "$site_work/id.pub" \
      >"$h.log" 2>&1 &
    site_holders="$site_holders $!"
  done
  for n in $(seq "$2"); do site_sshd_up "$n" || return 1; done
}

site_sshd_up() {
  holder=$(echo $site_holders | cut -d' ' -f"$1")
  for _ in $(seq 100); do [ -e "$site_work/host-$1/run/vn_ready" ] && break; sleep 0.1; done
  nsenter -t "$holder" -m /usr/sbin/sshd -D -e -f /etc/ssh/vn_sshd_config >>"$site_work/sshd-$1.log" 2>&1 &
  site_sshds="$site_sshds $!"
  for _ in $(seq 100); do
    ssh -i "$site_work/id" -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null \
      -o LogLevel=ERROR root@"127.0.0.1$1" true 2>/dev/null && return 0
    sleep 0.1
  done
  echo "site host $1 does not answer: $(cat "$site_work/host-$1.log" "$site_work/sshd-$1.log")" >&2
  return 1
}

site_sshd_down() {
  kill "$(cat "$site_work/host-$1/run/vn_sshd.pid")"
  sleep 0.2
}

site_hosts_inventory() {
  echo "sites:"
  echo "  hosts:"
  for n in $(seq "$(echo $site_holders | wc -w)"); do
    if [ "$n" -eq 1 ]; then login="ansible_user: root"
    else login="ansible_user: vnsite, ansible_become: true"; fi
    echo "    site-$n: {ansible_host: 127.0.0.1$n, $login}"
  done
}

site_hosts_stop() {
  for holder in $site_holders; do
    ns=$(readlink "/proc/$holder/ns/mnt") || continue
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/ns/mnt" 2>/dev/null)" = "$ns" ] && kill "${p#/proc/}" 2>/dev/null
    done
  done
  for pid in $site_sshds; do kill "$pid" 2>/dev/null || true; done
  return 0
}
