#!/bin/sh
# Runs site.yml on this machine against three site hosts (local connections),
# each with its own VNsim fleet on loopback, one of them losing 1% of the
# datagrams, all inside one private network namespace; then checks every
# device's image, the ledgers, the summary, a resumed run that sends nothing
# and a rollout that a wrong password stops after its first wave.
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
sims=""
trap 'for pid in $sims; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"' EXIT
export ANSIBLE_CONFIG="$here/ansible.cfg" ANSIBLE_NOCOLOR=1 NO_COLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_LOCAL_TEMP="$work/.ansible-local" ANSIBLE_REMOTE_TEMP="$work/.ansible-remote"
fail() { echo "test-sites: $*" >&2; exit 1; }

echo "== the role's documents and lint"
cd "$here"
ansible-playbook --syntax-check site.yml >/dev/null
ansible-doc -t role -r roles vnfleet >"$work/doc.txt"
for name in $(sed -n 's/^\(vnfleet_[a-z_]*\):.*/\1/p' roles/vnfleet/defaults/main.yml); do
  grep -q "$name" "$work/doc.txt" || fail "$name is not in meta/argument_specs.yml"
done
if command -v ansible-lint >/dev/null; then ansible-lint --offline -q site.yml roles/vnfleet
else echo "ansible-lint: not packaged here, skipped"; fi

echo "== three sites of $devices devices"
cd "$work"
# 20222 bytes and their length (0x4EFE) fill 79 pages: what a device holds.
head -c 20222 /dev/urandom >app.jar
{ printf '\376\116'; cat app.jar; } >expected.bin
"$bin/VNloader" -NE -T J -f app.jar -K site-key >/dev/null || true  # it ends package mode with 1
mkdir lists reports
for site in 1 2 3; do
  { echo address; seq -f "127.$site.0.%g" 1 "$devices"; } >"lists/site-$site.csv"
done

inventory() {  # the password of site 1
  cat <<EOF
sites:
  hosts:
    site-1: {vnfleet_password: "$1"}
    site-2: {}
    site-3: {}
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    vnfleet_workdir: "$work/{{ inventory_hostname }}"
    vnfleet_list: "$work/lists/{{ inventory_hostname }}.csv"
    vnfleet_file: "$work/java.enc"
    vnfleet_password: pw
    vnfleet_args: ["--min-wait-ms", "50", "--tries", "20"]
EOF
}

sim() {  # site, more VNsim options
  site=$1
  shift
  mkdir -p "received/site-$site"
  "$bin/VNsim" --devices "127.$site.0.1-127.$site.0.$devices" -P pw -K site-key \
    -o "received/site-$site" --idle-ms 60000 "$@" >"sim-$site.log" 2>&1 &
  sims="$sims $!"
  for _ in $(seq 50); do grep -qs "listening on" "sim-$site.log" && return; sleep 0.1; done
  fail "VNsim of site $site did not start: $(cat "sim-$site.log")"
}

playbook() {  # log, inventory's site-1 password, more options
  log=$1
  inventory "$2" >inventory.yml
  shift 2
  set +e
  ansible-playbook -i inventory.yml "$here/site.yml" -e "vnfleet_program=$bin/VNfleet" \
    -e "vnfleet_reports_dir=$work/reports" "$@" >"$log" 2>&1
  status=$?
  set -e
}

started=$(date +%s)
sim 1
sim 2 --loss 0.01
sim 3
playbook run.log pw
[ "$status" -eq 0 ] || fail "the rollout failed: $(cat run.log)"
for pid in $sims; do wait "$pid" || fail "a VNsim fleet failed: $(cat sim-*.log)"; done
sims=""
for site in 1 2 3; do
  for n in $(seq "$devices"); do
    cmp -s expected.bin "received/site-$site/127.$site.0.$n.bin" || fail "127.$site.0.$n: wrong image"
  done
  lines=$(grep -c '"result":"updated"' "reports/site-$site.jsonl")
  [ "$lines" -eq "$devices" ] || fail "site-$site's ledger: $lines devices updated"
done
total="total of 3 reports: $((3 * devices)) devices: $((3 * devices)) updated, 0 failed"
grep -q "$total" run.log || fail "no '$total' in the summary: $(cat run.log)"
"$bin/VNfleet" --summary reports/*.jsonl >/dev/null || fail "the summary's status is $?"
echo "first run: $(($(date +%s) - started)) s"

echo "== resumed: nothing to send, no device there"
cp -r reports before
playbook resume.log pw -e vnfleet_resume=true
[ "$status" -eq 0 ] || fail "the resumed rollout failed: $(cat resume.log)"
[ "$(grep -c "VNfleet: $devices devices: 0 updated, 0 failed, 0 interrupted, $devices skipped" resume.log)" -eq 3 ] ||
  fail "the resumed run updated something: $(cat resume.log)"
for site in 1 2 3; do
  # Each device line the resumed run added is a device skipped without a
  # datagram (besides the run's own first and last lines).
  if grep -vxFf "before/site-$site.jsonl" "reports/site-$site.jsonl" |
      grep -v -e '"result":"skipped".*"datagrams":0,' -e '^{"line":"run",' -e '^{"line":"end",.*"ended":"completed"'; then
    fail "site-$site: the resumed run sent something"
  fi
done

echo "== the first wave's site has the wrong password: the rollout stops"
rm -rf before
cp -r reports before
sim 1
playbook stopped.log wrong
[ "$status" -ne 0 ] || fail "the rollout went on: $(cat stopped.log)"
grep -q "You entered the wrong Set Password" reports/site-1.jsonl || fail "site-1's ledger has no refusal"
! grep -q "site-[23]\]" stopped.log || fail "the second wave started: $(cat stopped.log)"
for site in 2 3; do
  cmp -s "before/site-$site.jsonl" "reports/site-$site.jsonl" || fail "site-$site's ledger changed"
done
echo "test-sites: passed in $(($(date +%s) - started)) s"
