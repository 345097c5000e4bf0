#!/bin/bash
# The start-up program (process 1) of the guest that runs the 32-bit build's tests, started by
# scripts/vm-x86.sh. It mounts the three folders the host shares: the checkout and the build
# tree, both read-only, each under a tmpfs overlay that takes what the tests write (Wine
# prefixes, screenshots), and the folder its logs go to. It runs the wine-x86 step there (with
# the repair scenario of the 32-bit build in a 64-bit prefix, wow64), writes its exit status and
# powers off. The guest has no network; it finds everything in its image. The tests
# themselves are started by scripts/vm/guest-run.sh from the shared checkout.
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
# What the guest runs comes with the checkout, so that a change to it does not make a new image.
bash scripts/vm/guest-run.sh "$out" >"$out/guest.log" 2>&1 </dev/null
echo $? >"$out/status.tmp" && mv "$out/status.tmp" "$out/status"
power_off
