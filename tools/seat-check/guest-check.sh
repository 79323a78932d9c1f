#!/bin/bash
# Runs inside the system scripts/seat-check boots, as root at the end of boot: attaches
# the silent test keyboard, and records what the user at the seat may do with it before
# the package is installed, after, and after it is removed. Every line goes to the
# transcript port; lines "CHECK name value" are what the host judges.
payload=${1:-/mnt/payload}
out=${2:-/dev/ttyS1}
exec >"$out" 2>&1
export PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 SYSTEMD_COLORS=0 DPKG_COLORS=never
user=tester
uid=$(id -u "$user")

say() { echo "== $* =="; }
check() { echo "CHECK $1 $2"; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1 i=0
  shift
  until "$@"; do
    ((i++ >= limit * 2)) && return 1
    sleep 0.5
  done
}

tester_at_seat() {
  loginctl list-sessions --no-legend 2>/dev/null | awk -v u="$user" '$3 == u && $4 == "seat0"' | grep -q . &&
    [[ $(loginctl show-seat seat0 -p ActiveSession --value 2>/dev/null) != "" ]] &&
    [[ $(loginctl show-session "$(loginctl show-seat seat0 -p ActiveSession --value)" -p Name --value) == "$user" ]]
}

# The hidraw node of the test keyboard's interface $1 (USB) or of the uhid device ("uhid").
node_of() {
  local n dev
  for n in /sys/class/hidraw/hidraw*; do
    [[ -e $n ]] || continue
    dev=$(readlink -f "$n/device")
    case $1 in
      uhid) [[ $dev == */uhid/0003:0483:5710.* ]] ;;
      *) [[ $dev == *:1."$1"/0003:0483:5710.* ]] ;;
    esac && { echo "/dev/${n##*/}"; return 0; }
  done
  return 1
}

record_node() {
  local node=$1 label=$2
  echo "--- $label: ls -l $node"
  ls -l "$node"
  echo "--- $label: getfacl $node"
  getfacl -p "$node" 2>&1
  echo "--- $label: udevadm info $node"
  udevadm info "$node" 2>&1
  local tags acl
  tags=$(udevadm info -q property -n "$node" | sed -n 's/^CURRENT_TAGS=//p')
  acl=$(getfacl -p "$node" 2>/dev/null | grep "^user:$user:" || echo none)
  check "$label-current-tags" "${tags:-none}"
  check "$label-acl" "$acl"
}

# Runs tavrikctl ($1) as the user at the seat with a hard limit; records output, status, time.
run_ctl() {
  local ctl=$1 label=$2
  shift 2
  echo "--- $label: $user\$ tavrikctl $*"
  local start end status
  start=$(date +%s.%N)
  timeout -k 5 180 runuser -u "$user" -- env HOME="/home/$user" USER="$user" LOGNAME="$user" \
    XDG_RUNTIME_DIR="/run/user/$uid" "$ctl" "$@" >/tmp/ctl.out 2>&1
  status=$?
  end=$(date +%s.%N)
  cat /tmp/ctl.out
  local seconds
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  echo "--- $label: exit status $status after $seconds s"
  check "$label-status" "$status"
  check "$label-seconds" "$seconds"
  if grep -q "permission denied" /tmp/ctl.out; then check "$label-denied" yes; else check "$label-denied" no; fi
  if grep -q "70-tavrik.rules" /tmp/ctl.out; then check "$label-names-rule" yes; else check "$label-names-rule" no; fi
  if grep -q "$vendor_node" /tmp/ctl.out; then check "$label-names-node" yes; else check "$label-names-node" no; fi
}

say "seat-check in the guest: $(uname -r), $(date -u)"
cp "$payload/tavrik.deb" /root/tavrik.deb
if wait_for 180 tester_at_seat; then check seat-session yes; else check seat-session no; fi
loginctl list-sessions --no-legend
loginctl show-seat seat0 -p ActiveSession -p CanTTY

say "attaching the test keyboard (USB/IP virtual host controller)"
modprobe vhci-hcd
"$payload/fake-keyboard" usb 1800 2>/tmp/fake-usb.log &
fake_usb=$!
wait_for 60 node_of 1 || echo "no hidraw node for the vendor interface"
udevadm settle --timeout=30
vendor_node=$(node_of 1)
boot_node=$(node_of 0)
cat /tmp/fake-usb.log
check vendor-node "${vendor_node:-none}"
if [[ -n $vendor_node ]]; then
  echo "--- udevadm info -a $vendor_node (the devices above it)"
  udevadm info -a -n "$vendor_node" | grep -E "looking at|KERNELS==|SUBSYSTEMS==|ATTRS\{(idVendor|idProduct|bcdDevice|bInterfaceNumber)\}" | head -40
fi

say "BEFORE the package is installed"
mkdir -p /opt/unpacked && dpkg-deb -x /root/tavrik.deb /opt/unpacked
record_node "$vendor_node" before
[[ -n $boot_node ]] && record_node "$boot_node" before-boot-interface
run_ctl /opt/unpacked/usr/bin/tavrikctl before-list list

say "installing the package"
dpkg -i /root/tavrik.deb 2>&1 | grep -v "Reading database"
check install-status "${PIPESTATUS[0]}"
udevadm settle --timeout=30

say "AFTER the package is installed"
record_node "$vendor_node" after
[[ -n $boot_node ]] && record_node "$boot_node" after-boot-interface
run_ctl /usr/bin/tavrikctl after-list list
run_ctl /usr/bin/tavrikctl after-scan scan

say "the same IDs through uhid (no USB device behind it), rule installed"
modprobe uhid
"$payload/fake-keyboard" uhid 600 2>/tmp/fake-uhid.log &
fake_uhid=$!
wait_for 30 node_of uhid
udevadm settle --timeout=30
cat /tmp/fake-uhid.log
uhid_node=$(node_of uhid)
if [[ -n $uhid_node ]]; then
  udevadm info -a -n "$uhid_node" | grep -E "looking at|KERNELS==|SUBSYSTEMS==|ATTRS\{id" | head -20
  record_node "$uhid_node" uhid
  run_ctl /usr/bin/tavrikctl uhid-list list
  if grep -q "$uhid_node" /tmp/ctl.out; then check uhid-list-names-uhid-node yes; else check uhid-list-names-uhid-node no; fi
fi
kill "$fake_uhid" 2>/dev/null
wait "$fake_uhid" 2>/dev/null

say "removing the package"
dpkg -r tavrik 2>&1 | grep -v "Reading database"
check remove-status "${PIPESTATUS[0]}"
udevadm settle --timeout=30
ls -l /usr/lib/udev/rules.d/70-tavrik.rules 2>&1
record_node "$vendor_node" removed

kill "$fake_usb" 2>/dev/null
wait "$fake_usb" 2>/dev/null
cat /tmp/fake-usb.log
say "seat-check done"
echo "SEAT-CHECK-DONE"
sync  # the unit powers the machine off
