#!/bin/sh
# The VM test's scenarios, run in the guest (a chroot of the host's root) by scripts/vm/init.
# Each scenario works in a copy of its folder on the guest's tmpfs (the chip's flash is a
# shared mapping, which the 9p share does not take) and copies its results back; the host
# checks them (scripts/test-vm). Nothing here decides whether a scenario passed.
out="$1"
. "$out/env"
up() { cut -d' ' -f1 /proc/uptime; }
say() { echo "[guest] $* (up $(up) s)"; }

mkdir -p /dev/gadget
mount -t gadgetfs gadgetfs /dev/gadget || say "cannot mount gadgetfs"

# Kernel device events of USB devices (what libudev's "kernel" monitor receives): one line
# "ACTION DEVPATH PRODUCT" each.
uevents() {  # file
  UEVENTS_FILE="$1" busybox uevent sh -c \
    '[ "$SUBSYSTEM" = usb ] && [ "$DEVTYPE" = usb_device ] && echo "$ACTION $DEVPATH $PRODUCT" >>"$UEVENTS_FILE"; exit 0' &
  echo $! >/tmp/uevents.pid
}

# A simulated hub of a scenario folder, up and bound by the hub driver: hub1 is a gadget on
# dummy_hcd (GadgetFS), hub2 a device on vhci_hcd's port 0 (USB/IP), hub3 a USB 3 hub there
# (its two halves on the peer ports 0 of vhci_hcd's two root hubs). hub1's files are
# vmhub.log, vmhub.pid, ready and hub-path; another hub's carry its name (a USB 3 hub's
# hub-path is its USB 2.0 half's, hub-path-NAME-ss its SuperSpeed half's).
hub_start() {  # folder hub [vmhub options]
  dir="$1"
  hub="$2"
  shift 2
  sfx="-$hub"
  glob="/sys/devices/platform/vhci_hcd.0/usb*/*-1"  # port 0 of either root hub
  want=1
  [ "$hub" = hub3 ] && want=2
  if [ "$hub" = hub1 ]; then
    sfx=""
    glob="/sys/devices/platform/dummy_hcd.*/usb*/*-1"
  else
    set -- --usbip 0 "$@"
  fi
  rm -f "$dir/ready$sfx"
  VMHUB_TRACE=1 "$BIN/vmhub" --bench "$dir/bench.json" --hub "$hub" --ready "$dir/ready$sfx" "$@" \
    2>>"$dir/vmhub$sfx.log" &
  pid=$!
  echo $pid >"$dir/vmhub$sfx.pid"
  # shell built-ins only: every program started in the guest is read over 9p
  i=0
  while [ $i -lt 300 ] && [ -d /proc/$pid ]; do
    bound=0
    for d in $glob; do
      [ -e "$d/${d##*/}:1.0/driver" ] || continue
      bound=$((bound + 1))
      read -r speed <"$d/speed"
      if [ "$speed" -ge 5000 ]; then echo "${d##*/}" >"$dir/hub-path$sfx-ss"; else echo "${d##*/}" >"$dir/hub-path$sfx"; fi
    done
    if [ $bound -ge $want ] && [ -e "$dir/ready$sfx" ]; then
      say "$hub bound at $(cat "$dir/hub-path$sfx") $(cat "$dir/hub-path$sfx-ss" 2>/dev/null)"
      return 0
    fi
    sleep 0.1
    i=$((i + 1))
  done
  say "$hub was not bound"
  return 1
}
hub_stop() {  # folder hub
  sfx="-$2"
  [ "$2" = hub1 ] && sfx=""
  kill "$(cat "$1/vmhub$sfx.pid")" 2>/dev/null
  wait "$(cat "$1/vmhub$sfx.pid")" 2>/dev/null
}
sysfs_list() {  # file: every USB device with its path, class and ids
  for d in /sys/bus/usb/devices/*; do
    [ -f "$d/bDeviceClass" ] || continue
    echo "$(basename "$d") $(cat "$d/bDeviceClass") $(cat "$d/idVendor"):$(cat "$d/idProduct")"
  done >"$1"
}
mptool() {  # folder: a production run there, its exit code and time kept
  dir="$1"
  start=$(date +%s%N)
  (cd "$dir" && MPTOOL_HOME="$dir" MPTOOL_UDEV_RULES_DIR="$dir/rules" TMPDIR=/tmp \
    timeout 240 "$BIN/MPTool" /S >"$dir/stdout.txt" 2>"$dir/stderr.txt")
  echo $? >"$dir/rc"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000)) >"$dir/ms"
  echo $(((end - start) / 1000000000)) >"$dir/seconds"
  say "MPTool /S in $dir ended with $(cat "$dir/rc") after $(cat "$dir/seconds") s"
}

# A production run watched from outside: the kernel's device events during it, and a scan
# after it.
watched_run() {  # folder
  uevents "$1/uevents.txt"
  mptool "$1"
  kill "$(cat /tmp/uevents.pid)" 2>/dev/null
  "$BIN/mptool-util" scan --json >"$1/scan-after.json" 2>"$1/scan-after.err"
}

# scan and one production run on the same hub
say "scenario: scan, then MPTool /S on one gadget hub"
cp -r "$out/run1" /tmp/run1
mkdir -p "$out/scan"
if hub_start /tmp/run1 hub1; then
  cp /tmp/run1/hub-path "$out/scan/"
  sysfs_list "$out/scan/sysfs.txt"
  "$BIN/mptool-util" scan --json >"$out/scan/scan.json" 2>"$out/scan/stderr.txt"
  echo $? >"$out/scan/rc"
  python3 "$SRC/scripts/vm/capture-sysfs.py" "$out/sysfs-tree"
  mkdir -p "$out/measure"
  "$BIN/bench_vm_transfer_bench" "usb:$(cat /tmp/run1/hub-path)" 2000 >"$out/measure/transfer.json" \
    2>"$out/measure/transfer.err"
  watched_run /tmp/run1
  hub_stop /tmp/run1 hub1
fi
cp -r /tmp/run1/. "$out/run1/"

# two hubs on two controllers at once: the gadget on dummy_hcd, the USB/IP one on vhci_hcd
say "scenario: MPTool /S on two hubs on two controllers"
cp -r "$out/run2" /tmp/run2
if hub_start /tmp/run2 hub1 && hub_start /tmp/run2 hub2; then
  watched_run /tmp/run2
fi
hub_stop /tmp/run2 hub1
hub_stop /tmp/run2 hub2
cp -r /tmp/run2/. "$out/run2/"

# a USB 3 hub: its SuperSpeed half takes the hub operations, both halves leave and come back
say "scenario: MPTool /S on a USB 3 hub (USB/IP)"
cp -r "$out/run3" /tmp/run3
if hub_start /tmp/run3 hub3; then
  watched_run /tmp/run3
fi
hub_stop /tmp/run3 hub3
cp -r /tmp/run3/. "$out/run3/"

# the hub leaves for good in the middle of its download
say "scenario: the hub vanishes mid-run"
cp -r "$out/vanish" /tmp/vanish
if hub_start /tmp/vanish hub1 --vanish-after 300; then
  mptool /tmp/vanish
  hub_stop /tmp/vanish hub1
fi
cp -r /tmp/vanish/. "$out/vanish/"

# the one-hub run timed as bench/run_bench.cpp times it, with the transfer time measured above
if [ -x "$BIN/bench_vm_run_bench" ] && [ -f "$out/measure/transfer.json" ]; then
  say "measurement: a one-hub run against its lower bound"
  cp -r "$out/measure-run" /tmp/mrun
  if hub_start /tmp/mrun hub1; then
    us=$(sed -n 's/.*"backend_us": \([0-9.]*\).*/\1/p' "$out/measure/transfer.json")
    "$BIN/bench_vm_run_bench" /tmp/mrun "$us" 200 500 >"$out/measure/run.json" 2>/tmp/mrun/stderr.txt
    hub_stop /tmp/mrun hub1
  fi
  cp -r /tmp/mrun/. "$out/measure-run/"
fi

# a blank chip without strings looks asleep: the scan keeps it awake through power/control
# and restarts it through authorized; the tool puts power/control back when it ends
say "scenario: power/control and authorized of an idle hub"
cp -r "$out/idle" /tmp/idle
if hub_start /tmp/idle hub1; then
  h=/sys/bus/usb/devices/$(cat /tmp/idle/hub-path)
  read -r v <"$h/power/control"
  echo "$v" >/tmp/idle/control-before
  : >/tmp/idle/control-seen
  (last=""; while [ -e /tmp/idle/vmhub.pid ]; do
      read -r v <"$h/power/control" 2>/dev/null && [ "$v" != "$last" ] && echo "$v" >>/tmp/idle/control-seen && last=$v
      sleep 0.1
    done) &
  sampler=$!
  mptool /tmp/idle
  read -r v <"$h/power/control"
  echo "$v" >/tmp/idle/control-after
  read -r v <"$h/authorized"
  echo "$v" >/tmp/idle/authorized-after
  kill $sampler 2>/dev/null
  hub_stop /tmp/idle hub1
fi
cp -r /tmp/idle/. "$out/idle/"

# an operator without access to the hub: told so, and the run waits for a hub it may open
say "scenario: no permission"
cp -r "$out/perm" /tmp/perm
chmod -R a+rwX /tmp/perm
if hub_start /tmp/perm hub1; then
  ls -l /dev/bus/usb/*/* >/tmp/perm/nodes.txt 2>&1
  (cd /tmp/perm && MPTOOL_HOME=/tmp/perm MPTOOL_UDEV_RULES_DIR=/tmp/perm/rules TMPDIR=/tmp/perm \
    timeout 30 setpriv --reuid=65534 --regid=65534 --clear-groups "$BIN/MPTool" /S \
    >/tmp/perm/stdout.txt 2>/tmp/perm/stderr.txt)
  echo $? >/tmp/perm/rc
  say "MPTool /S without access ended with $(cat /tmp/perm/rc)"
  hub_stop /tmp/perm hub1
fi
cp -r /tmp/perm/. "$out/perm/"

# SG_IO on qemu's USB storage device (below qemu's first hub)
say "scenario: SG_IO"
mkdir -p "$out/storage"
i=0
while [ ! -e /sys/class/block/sda ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
"$BIN/vmstorage" usb:1-1 >"$out/storage/storage.json" 2>"$out/storage/stderr.txt"

# SG_IO on a bridge's disk: the bridge model as a USB mass-storage device on vhci_hcd
say "scenario: SG_IO on the bridge model's disk (USB/IP)"
mkdir -p /tmp/bridge
"$BIN/vmbridge" --bench "$out/bridge/bench.json" --hub hub1 --usbip 1 2>/tmp/bridge/vmbridge.log &
bridge=$!
disk=""
i=0
while [ -z "$disk" ] && [ $i -lt 300 ] && [ -d /proc/$bridge ]; do
  for b in /sys/class/block/sd*; do
    case "$(readlink -f "$b")" in */vhci_hcd.0/*) disk="${b##*/}" ;; esac
  done
  sleep 0.1
  i=$((i + 1))
done
say "the bridge's disk is ${disk:-missing}"
echo "$disk" >/tmp/bridge/disk
[ -n "$disk" ] && "$BIN/vmstorage" "$disk" >/tmp/bridge/storage.json 2>/tmp/bridge/stderr.txt
kill $bridge 2>/dev/null
wait $bridge 2>/dev/null
cp -r /tmp/bridge/. "$out/bridge/"

# the station as installed: the udev rules in udev's folder, systemd-udevd running, the
# operator in the operator group; the run needs no root
say "scenario: udev rules and the operator group"
cp -r "$out/udev" /tmp/udev
chmod -R a+rwX /tmp/udev
# the operator group as the package creates it (the host may have it already)
gid=$(awk -F: '$1 == "mptool" {print $3; exit}' /etc/group)
if [ -z "$gid" ]; then
  gid=990
  { cat /etc/group; echo "mptool:x:$gid:nobody"; } >/tmp/group
  mount --bind /tmp/group /etc/group
fi
echo "$gid" >/tmp/udev/gid
mkdir -p /tmp/rules.d
cp "$SRC/packaging/FilterDriver/70-vlntufdriver.rules" /tmp/rules.d/
mount --bind /tmp/rules.d /etc/udev/rules.d
/lib/systemd/systemd-udevd --daemon
udevadm trigger --action=add --subsystem-match=usb
udevadm settle --timeout=30
if hub_start /tmp/udev hub1; then
  udevadm settle --timeout=30
  h=/sys/bus/usb/devices/$(cat /tmp/udev/hub-path)
  read -r bus <"$h/busnum"
  read -r dev <"$h/devnum"
  stat -c '%a %g' "$(printf '/dev/bus/usb/%03d/%03d' "$bus" "$dev")" >/tmp/udev/node-before
  stat -c '%g %a' "$h/power/control" >/tmp/udev/control-node
  (cd /tmp/udev && MPTOOL_HOME=/tmp/udev MPTOOL_UDEV_RULES_DIR=/etc/udev/rules.d TMPDIR=/tmp/udev \
    timeout 240 setpriv --reuid=65534 --regid=65534 --groups="$gid" "$BIN/MPTool" /S \
    >/tmp/udev/stdout.txt 2>/tmp/udev/stderr.txt)
  echo $? >/tmp/udev/rc
  say "MPTool /S as an operator ended with $(cat /tmp/udev/rc)"
  udevadm settle --timeout=30
  read -r dev <"$h/devnum"
  stat -c '%a %g' "$(printf '/dev/bus/usb/%03d/%03d' "$bus" "$dev")" >/tmp/udev/node-after
  hub_stop /tmp/udev hub1
fi
udevadm control --exit
cp -r /tmp/udev/. "$out/udev/"

touch "$out/done"
say "scenarios done"
