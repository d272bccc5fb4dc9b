#!/bin/sh
# Runs site.yml over real SSH against three site hosts on this machine in
# one private network namespace (site-hosts.sh: an sshd each on 127.0.0.11
# to .13, each in a mount namespace of its own; site-1 as root, site-2 and
# site-3 as an unprivileged user with become), with the project's .deb
# installed by the role. Each site's devices are a VNsim fleet on loopback,
# site 2's losing 1% of the datagrams. Checks every device's image, the
# ledgers, the summary, an honest `changed`, check mode, a wrong password
# and a stopped sshd at the first wave's site, SIGINT to ansible-playbook
# and a rerun, and a short vnfleet_timeout_s.
# usage: sh deploy/ansible/test-sites.sh [BUILD_DIR]   (default build/native)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
if [ -z "${VN_IN_NETNS:-}" ]; then
  sh "$root/scripts/install-deps.sh" --ansible
  exec "$root/tests/netns-run.sh" sh "$0" "$build"
fi
bin=$build/bin
devices=${SITE_DEVICES:-20}
work=$(mktemp -d)
pids=""
. "$here/site-hosts.sh"
cleanup() {
  site_hosts_stop
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  sleep 0.2
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
export ANSIBLE_CONFIG="$here/ansible.cfg" ANSIBLE_NOCOLOR=1 NO_COLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_LOCAL_TEMP="$work/.ansible-local" ANSIBLE_PIPELINING=1 ANSIBLE_HOST_KEY_CHECKING=0
export ANSIBLE_SSH_ARGS="-o ControlMaster=auto -o ControlPersist=2s -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
fail() { echo "test-sites: $*" >&2; exit 1; }
began=$(date +%s)
step() { echo "== $* ($(($(date +%s) - began)) s)"; }

step "the role's documents and lint"
cd "$here"
ansible-playbook --syntax-check site.yml >/dev/null
ansible-doc -t role -r roles vnfleet >"$work/doc.txt"
for name in $(sed -n 's/^\(vnfleet_[a-z_]*\):.*/\1/p' roles/vnfleet/defaults/main.yml); do
  grep -q "$name" "$work/doc.txt" || fail "$name is not in meta/argument_specs.yml"
  grep -q "$name" roles/vnfleet/README.md || fail "$name is not in roles/vnfleet/README.md"
done
if command -v ansible-lint >/dev/null; then ansible-lint --offline -q --profile production site.yml roles/vnfleet
else echo "ansible-lint: not packaged here, skipped"; fi

step "the package and three site hosts"
cd "$work"
(cd "$build" && cpack -G DEB -B "$work/deb") >cpack.log 2>&1 || fail "cpack: $(cat cpack.log)"
deb=$(ls "$work"/deb/*.deb)
site_hosts_start "$work" 3 || fail "the site hosts did not start"
vnfleet_dir() { echo "$work/host-$1/up/var/lib/vnfleet"; }

# Two images: 20222 bytes and their length (0x4EFE) fill 79 pages.
for image in 1 2; do
  head -c 20222 /dev/urandom >app.jar
  { printf '\376\116'; cat app.jar; } >"expected-$image.bin"
  "$bin/VNloader" -NE -T J -f app.jar -K site-key >/dev/null || true  # it ends package mode with 1
  mv java.enc "java-$image.enc"
done
mkdir lists reports inventory inventory/group_vars
for site in 1 2 3; do
  { echo address; seq -f "127.$site.0.%g" 1 "$devices"; } >"lists/site-$site.csv"
done
# Where an operator puts them: the reports folder and the rest in group_vars.
cat >inventory/group_vars/sites.yml <<EOF
ansible_python_interpreter: /usr/bin/python3
ansible_ssh_private_key_file: $work/id
vnfleet_list: "$work/lists/{{ inventory_hostname }}.csv"
vnfleet_package: $deb
vnfleet_password: "{{ site_password | default('pw') }}"
vnfleet_reports_dir: $work/reports
vnfleet_resume: true
vnfleet_args: ["--min-wait-ms", "50", "--tries", "10", "-j", "8"]
EOF
site_hosts_inventory >inventory/hosts.yml

sims=""
sim() {  # site, more VNsim options
  site=$1
  shift
  mkdir -p "received/site-$site"
  rm -f "received/site-$site"/*
  "$bin/VNsim" --devices "127.$site.0.1-127.$site.0.$devices" -P pw -K site-key \
    -o "received/site-$site" --idle-ms 300000 "$@" >"sim-$site.log" 2>&1 &
  sims="$sims $!"
  pids="$pids $!"
  for _ in $(seq 50); do grep -qs "listening on" "sim-$site.log" && return; sleep 0.1; done
  fail "VNsim of site $site did not start: $(cat "sim-$site.log")"
}
sims_down() { for pid in $sims; do kill "$pid" 2>/dev/null || true; done; sims=""; }

runs=0
playbook() {  # log, image, more options; the controller's VNfleet (summary) on PATH
  log=$1 image=$2
  shift 2
  runs=$((runs + 1))
  set +e
  PATH="$bin:$PATH" ANSIBLE_SSH_CONTROL_PATH_DIR="$work/cp-$runs" \
    ansible-playbook -i inventory "$here/site.yml" -e "vnfleet_file=$work/java-$image.enc" "$@" >"$log" 2>&1
  status=$?
  set -e
}
ledger() { cat "$(vnfleet_dir "$1")/report.jsonl"; }
images_are() {  # image, sites...
  image=$1
  shift
  for site in "$@"; do
    for n in $(seq "$devices"); do
      cmp -s "expected-$image.bin" "received/site-$site/127.$site.0.$n.bin" || fail "127.$site.0.$n: not image $image"
    done
  done
}
changed_count() {  # the changed= of every site in a log's recap, added
  awk '/^site-[0-9]/ { for (i = 1; i <= NF; i++) if (sub("^changed=", "", $i)) s += $i } END { print s + 0 }' "$1"
}
never_started() {  # log, sites...
  log=$1
  shift
  for site in "$@"; do
    ! grep -Eq "^(ok|changed|fatal|skipping): \[site-$site\]" "$log" || fail "site-$site started: $(cat "$log")"
  done
}
snapshot() { for site in 1 2 3; do ledger "$site" >"before-$site.jsonl" 2>/dev/null || :; done; }
unchanged() { for site in "$@"; do ledger "$site" | cmp -s "before-$site.jsonl" - || fail "site-$site's ledger changed"; done; }

step "three sites of $devices devices over SSH"
started=$(date +%s)
sim 1
sim 2 --loss 0.01
sim 3
playbook run.log 1
[ "$status" -eq 0 ] || fail "the rollout failed: $(cat run.log)"
sims_down
images_are 1 1 2 3
for site in 1 2 3; do
  [ "$(ledger "$site" | grep -c '"result":"updated"')" -eq "$devices" ] || fail "site-$site's ledger"
  cmp -s "$(vnfleet_dir "$site")/report.jsonl" "reports/site-$site.jsonl" || fail "site-$site's ledger not fetched"
  [ "$(cat "$work/host-$site/up/var/lib/dpkg/info/vnloader.list" | grep -c /usr/bin/VNfleet)" -eq 1 ] ||
    fail "the package is not installed on site-$site"
done
total="total of 3 reports: $((3 * devices)) devices: $((3 * devices)) updated, 0 failed"
grep -q "$total" run.log && grep -q "$total" reports/summary.txt || fail "no '$total' in the summary"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' reports/summary.json || fail "summary.json"
[ ! -e "$HOME/vnfleet" ] && [ ! -e "$work/host-2/home/vnsite/vnfleet" ] || fail "a work folder in a home folder"
echo "first run: $(($(date +%s) - started)) s"

step "again: nothing to send, nothing changed"
started=$(date +%s)
snapshot
playbook again.log 1 -e '{"vnfleet_waves": ["100%"]}'
[ "$status" -eq 0 ] || fail "the second run failed: $(cat again.log)"
[ "$(changed_count again.log)" -eq 0 ] || fail "the second run changed something: $(grep changed= again.log)"
[ "$(grep -c "VNfleet: $devices devices: 0 updated, 0 failed, 0 interrupted, $devices skipped" again.log)" -eq 3 ] ||
  fail "the second run sent something: $(cat again.log)"
echo "second run: $(($(date +%s) - started)) s"

step "check mode: the plan, nothing sent or changed"
snapshot
ls -lR "$(vnfleet_dir 1)" >files-before
sim 1
sim 2
sim 3
playbook check.log 2 --check -e '{"vnfleet_waves": ["100%"]}'
sims_down
[ "$status" -eq 0 ] || fail "check mode failed: $(cat check.log)"
[ "$(grep -c "VNfleet: plan: $devices devices" check.log)" -eq 3 ] || fail "no plan: $(cat check.log)"
ls -lR "$(vnfleet_dir 1)" | cmp -s files-before - || fail "check mode changed the work folder"
unchanged 1 2 3
[ -z "$(find received -type f)" ] && ! grep -q "pages received" sim-*.log || fail "check mode sent something"

step "the first wave's site has the wrong password: the rollout stops"
snapshot
sim 1
playbook wrong.log 2 -e site_password=wrong
sims_down
[ "$status" -ne 0 ] || fail "the rollout went on: $(cat wrong.log)"
grep -q "fatal: \[site-1\].*VNfleet on site-1 ended with 4 (some devices failed or are not back).*not updated: $devices devices; 127.1.0.[0-9]* failed: You entered the wrong Set Password" wrong.log ||
  fail "no reason in the message: $(cat wrong.log)"
grep -q "not fetched in this run, so not counted: site-2, site-3" reports/summary.txt || fail "summary: $(cat reports/summary.txt)"
grep -q "site-1.jsonl 127.1.0.[0-9]* failed: java-2.enc: You entered the wrong" wrong.log || fail "the summary has no reason"
never_started wrong.log 2 3
unchanged 2 3

step "the first wave's site host is down: the rollout stops"
snapshot
site_sshd_down 1
playbook down.log 2
[ "$status" -ne 0 ] || fail "the rollout went on: $(cat down.log)"
grep -q "fatal: \[site-1\].*site-1 unreachable" down.log || fail "no reason: $(cat down.log)"
grep -q "no ledger fetched in this run" reports/summary.txt || fail "summary: $(cat reports/summary.txt)"
never_started down.log 2 3
unchanged 1 2 3
site_sshd_up 1 || fail "site-1 did not come back"

step "SIGINT to ansible-playbook mid-run, then again: one VNfleet, no device sent twice"
snapshot
sim 1 --ack-delay-ms 100
sim 2 --loss 0.01
sim 3
runs=$((runs + 1))
# A command started with & ignores SIGINT: give ansible-playbook its own back.
PATH="$bin:$PATH" ANSIBLE_SSH_CONTROL_PATH_DIR="$work/cp-$runs" python3 -c \
  'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execvp(sys.argv[1], sys.argv[1:])' \
  ansible-playbook -i inventory "$here/site.yml" -e "vnfleet_file=$work/java-2.enc" >cut.log 2>&1 &
playbook_pid=$!
for _ in $(seq 200); do [ -e "$(vnfleet_dir 1)/job" ] && break; sleep 0.1; done
[ -e "$(vnfleet_dir 1)/job" ] || fail "site-1's run did not start: $(cat cut.log)"
kill -INT "$playbook_pid"
wait "$playbook_pid" || true
grep -q "User interrupted execution" cut.log || fail "ansible-playbook was not interrupted: $(cat cut.log)"
[ -e "$(vnfleet_dir 1)/job" ] || fail "the job id is gone: $(cat cut.log)"
playbook resumed.log 2
sims_down
[ "$status" -eq 0 ] || fail "the run after SIGINT failed: $(cat resumed.log)"
grep -q "is waited for; no new run starts" resumed.log || fail "no reattach: $(cat resumed.log)"
[ ! -e "$(vnfleet_dir 1)/password" ] || fail "the password file stayed behind"
images_are 2 1 2 3
for site in 1 2 3; do
  python3 - "$(vnfleet_dir "$site")/report.jsonl" "before-$site.jsonl" <<'EOF' || fail "site-$site's ledger"
import json, sys
lines = open(sys.argv[1]).read().splitlines()
old = len(open(sys.argv[2]).read().splitlines())
sent = [json.loads(line) for line in lines][old:]
sent = [entry["address"] for entry in sent if entry.get("datagrams", 0) > 0]
assert len(sent) == len(set(sent)), "a device sent twice"
EOF
  "$bin/VNfleet" --summary "$(vnfleet_dir "$site")/report.jsonl" >/dev/null || fail "site-$site: summary $?"
done

step "a short vnfleet_timeout_s: VNfleet stops itself, every line written"
snapshot
sim 1 --ack-delay-ms 100
playbook short.log 1 -e vnfleet_timeout_s=2
sims_down
[ "$status" -ne 0 ] || fail "the short run passed: $(cat short.log)"
grep -q "fatal: \[site-1\].*VNfleet on site-1 ended with 3 (interrupted, or stopped at vnfleet_timeout_s)" short.log ||
  fail "no reason: $(cat short.log)"
ledger 1 | tail -n +"$(($(wc -l <before-1.jsonl) + 1))" >short.jsonl
last=$(grep -o "VNfleet: $devices devices: .* not started" short.log | tail -n 1)
ended=$(($(echo "$last" | sed 's/.*: \([0-9]*\) updated, \([0-9]*\) failed, \([0-9]*\) interrupted.*/\1+\2+\3/')))
[ "$(grep -c '"datagrams":[1-9]' short.jsonl)" -eq "$ended" ] && grep -q "stopped at the deadline" short.jsonl ||
  fail "started devices without a line: $last: $(cat short.jsonl)"
never_started short.log 2 3
echo "test-sites: passed in $(($(date +%s) - began)) s"
