#!/usr/bin/env bash
# The wine-x86 step where the kernel refuses 32-bit programs: scripts/wine-tests.sh windows-x86
# (and the 32-bit build's repair scenario in a 64-bit prefix, which the 64-bit step cannot run
# there) in a Debian guest under qemu-system-x86_64, emulated, without network. The image comes
# from scripts/vm/build-image.sh (cached); each run boots a throwaway copy-on-write overlay of
# it, with the checkout and the build tree shared read-only and the guest's logs written to
# BUILD/test-logs/wine-x86-vm/. Prints the guest's log, so the step reads as it does on a
# kernel that can, then the time of each part. Started by wine-tests.sh.
#
# A failure of the machine itself (qemu or debootstrap missing, no disk space, no image, a guest
# that never starts or does not end in time) is said so, apart from the tests' failures. One
# that keeps the guest from starting fails the step under CI (CI=true) and skips it (status 77)
# elsewhere. VORSE_VM_TIMEOUT (seconds, 3600) bounds the whole run; VORSE_VM_MEMORY (MiB, 6144:
# most of it holds the Wine prefixes, and a failed scenario keeps its own).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

root=${VORSE_BUILD_ROOT:-build}
out="$root/test-logs/wine-x86-vm"
work="$root/vm-x86"
limit=${VORSE_VM_TIMEOUT:-3600}
start_limit=600

machine_failure() {
  echo "result: wine-x86 virtual machine: $1 (a failure of the machine, not of a test)"
  [ "${CI:-}" != true ] && [ "${2:-}" = may-skip ] && exit 77
  exit 1
}

for tool in qemu-system-x86_64 qemu-img debootstrap mkfs.ext4; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null ||
    machine_failure "$tool is missing (make deps installs it)" may-skip
done
export PATH=$PATH:/usr/sbin:/sbin

rm -rf "$out" "$work"
mkdir -p "$out" "$work"
# The guest runs the parts and scenarios asked for here (scripts/vm/guest-run.sh).
for name in VORSE_PARTS VORSE_SCENARIOS VORSE_WAIT_FACTOR; do
  [ -n "${!name:-}" ] && printf 'export %s=%q\n' "$name" "${!name}"
done >"$out/guest-env"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vorsefix
mkdir -p "$cache"
# The system and its image take about 4 GiB when they are made; a run's overlay, little.
free_mb=$(($(df -Pk "$cache" | awk 'NR == 2 { print $4 }') / 1024))
if [ "$free_mb" -lt 6144 ] && ! ls "$cache"/x86-image-*/ready >/dev/null 2>&1; then
  machine_failure "no disk space: $free_mb MiB free in $cache, the image needs 6 GiB" may-skip
fi

start=$SECONDS
if ! image=$(bash scripts/vm/build-image.sh 2>"$out/image-build.log"); then
  machine_failure "the image could not be built (its log: $out/image-build.log)" may-skip
fi
image_time=$((SECONDS - start))
built="built"
[ -s "$out/image-build.log" ] || built="cached"

# Started before the build (by test-all.sh), the machine waits for it: VORSE_VM_AFTER names the
# file that then says "ok" or "failed".
if [ -n "${VORSE_VM_AFTER:-}" ]; then
  until [ -s "$VORSE_VM_AFTER" ]; do sleep 1; done
  if [ "$(cat "$VORSE_VM_AFTER")" != ok ]; then
    echo "result: wine-x86 not run in the virtual machine: the Windows presets did not build"
    exit 1
  fi
fi

if ! qemu-img create -q -f qcow2 -b "$image/disk.img" -F raw "$work/overlay.qcow2" \
  >"$out/overlay.log" 2>&1; then
  machine_failure "no overlay of the image could be made ($(head -n 1 "$out/overlay.log"))" may-skip
fi

# qemu reads a comma in a path given in its options as the end of the option.
qpath() { realpath "$1" | sed 's/,/,,/g'; }
start=$SECONDS
timeout -k 10 "$limit" qemu-system-x86_64 -accel tcg,thread=multi -smp 2 \
  -m "${VORSE_VM_MEMORY:-6144}" -nic none -no-reboot -display none -monitor none \
  -serial "file:$out/console.log" \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw init=/sbin/vorse-init console=ttyS0 mitigations=off panic=-1 fsck.mode=skip" \
  -drive "file=$(qpath "$work/overlay.qcow2"),format=qcow2,if=virtio,cache=unsafe" \
  -virtfs "local,path=$(qpath .),mount_tag=vorse-src,security_model=none,readonly=on" \
  -virtfs "local,path=$(qpath "$root"),mount_tag=vorse-build,security_model=none,readonly=on" \
  -virtfs "local,path=$(qpath "$out"),mount_tag=vorse-out,security_model=none" \
  >"$out/qemu.log" 2>&1 &
qemu=$!
trap 'kill "$qemu" 2>/dev/null' EXIT
until [ -e "$out/started" ] || ! kill -0 "$qemu" 2>/dev/null || [ $((SECONDS - start)) -ge "$start_limit" ]; do
  sleep 1
done
boot_time=$((SECONDS - start))
if [ ! -e "$out/started" ]; then
  kill "$qemu" 2>/dev/null
  wait "$qemu"
  why="the guest never started"
  [ -s "$out/qemu.log" ] && why="$why: $(head -n 1 "$out/qemu.log")"
  machine_failure "$why (its console: $out/console.log)" may-skip
fi
wait "$qemu"
qemu_status=$?
trap - EXIT
rm -rf "$work"

[ -e "$out/guest.log" ] && cat "$out/guest.log"
times=$(sed -n 's/^=== \([^ ]*\) ([^)]*): [a-zA-Z]* (\([0-9]*s\))$/\1 \2/p' "$out/guest.log" 2>/dev/null |
  paste -sd, | sed 's/,/, /g')
echo "result: wine-x86 in a virtual machine: image ${image_time}s ($built), boot ${boot_time}s," \
  "${times:-no part ran}"
[ -e "$out/machine-failure" ] && machine_failure "$(cat "$out/machine-failure")"
[ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ] &&
  machine_failure "the guest did not end within $limit s (its console: $out/console.log)"
[ -e "$out/status" ] ||
  machine_failure "the guest ended without its tests' status (its console: $out/console.log)"
exit "$(cat "$out/status")"
