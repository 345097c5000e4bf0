#!/bin/bash
# The start-up program (process 1) of the guest that runs the 32-bit build's tests, started by
# scripts/vm-x86.sh. It mounts the three folders the host shares: the checkout and the build
# tree, both read-only, each under a tmpfs overlay that takes what the tests write (Wine
# prefixes, screenshots), and the folder its logs go to. It runs the wine-x86 step there, then
# with the repair scenario of the 32-bit build in a 64-bit prefix (wow64), writes its exit
# status and powers off. The guest has no network; it finds everything in its image.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
out=/mnt/out

mount -t proc proc /proc
mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs shm /dev/shm
mount -t tmpfs tmp /tmp
mkdir -p /mnt/src /mnt/build /mnt/rw "$out" /vorse

power_off() {
  sync
  umount "$out" 2>/dev/null
  echo o >/proc/sysrq-trigger
  # The kernel ends the machine when process 1 ends (panic=-1 with qemu's -no-reboot) should
  # the power-off not come.
  sleep 30
  exit 1
}

share() { mount -t 9p -o "trans=virtio,version=9p2000.L,msize=262144,$2" "$1" "$3"; }
if ! modprobe -a 9pnet_virtio 9p overlay || ! share vorse-out rw "$out"; then
  echo "vorse-init: the host's log folder cannot be mounted" >/dev/console
  power_off
fi
# The host waits for this file to know that the guest has started.
cut -d' ' -f1 /proc/uptime >"$out/started"

overlay() {
  mkdir -p "/mnt/rw/$1/upper" "/mnt/rw/$1/work"
  mount -t overlay overlay \
    -o "lowerdir=$2,upperdir=/mnt/rw/$1/upper,workdir=/mnt/rw/$1/work" "$3"
}
# The two read-only shares do not change during the run: their pages are cached, which also gives
# Wine's mappings of the programs the bytes of their files.
if ! share vorse-src ro,cache=loose /mnt/src || ! share vorse-build ro,cache=loose /mnt/build ||
  ! mount -t tmpfs -o size=80% rw /mnt/rw || ! overlay src /mnt/src /vorse ||
  ! mkdir -p /vorse/build || ! overlay build /mnt/build /vorse/build; then
  echo "mount: the checkout and the build tree cannot be mounted" >"$out/machine-failure"
  power_off
fi

cd /vorse || power_off
export VORSE_BUILD_ROOT=build HOME=/root LANG=C.UTF-8
# Emulation runs programs several times slower: the waits for the window get longer limits.
# The host's 64-bit step cannot run the 32-bit build's scenario in a 64-bit prefix: this one does.
VORSE_WAIT_FACTOR=4 VORSE_X86_RUNS_WOW64=1 bash scripts/wine-tests.sh windows-x86 \
  >"$out/guest.log" 2>&1 </dev/null
echo $? >"$out/status.tmp" && mv "$out/status.tmp" "$out/status"
cp build/windows-x86/e2e-*.png build/windows-x64/e2e-*.png "$out/" 2>/dev/null
power_off
