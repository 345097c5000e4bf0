#!/usr/bin/env bash
# Builds the disk image of the guest that runs the 32-bit build's tests (scripts/vm-x86.sh), from
# Debian's packages, and caches it under ${XDG_CACHE_HOME:-$HOME/.cache}/vorsefix/. The image is
# named by a hash of its inputs (guest-packages, guest-init.sh, this script) and built only when
# no image of that hash is there. Prints the folder that holds it: disk.img (ext4, the whole
# system), vmlinuz and initrd.img (taken from it, for qemu's -kernel and -initrd).
#
# The packages come from the Debian sources the host's apt already uses, so the guest installs
# what the host would. Needs root (sudo otherwise): debootstrap and chroot do.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
suite=bookworm

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Two levels: the installed system (a folder, from the package list) and the disk image made
# from it with the start-up script (seconds), so a change of the script alone does not install
# again.
system_hash=$(cat "$here/guest-packages" "$here/build-image.sh" | sha256sum | cut -c1-16)
image_hash=$(printf '%s\n' "$system_hash" | cat - "$here/guest-init.sh" | sha256sum | cut -c1-16)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vorsefix
system="$cache/x86-system-$system_hash"
image="$cache/x86-image-$image_hash"
if [ -f "$image/ready" ]; then
  printf '%s\n' "$image"
  exit 0
fi
mkdir -p "$cache"
# Older builds go: each takes a few GiB.
find "$cache" -maxdepth 1 \( -name 'x86-system-*' ! -name "${system##*/}" -o \
  -name 'x86-image-*' ! -name "${image##*/}" \) -exec $sudo rm -rf {} +

# The host's Debian sources: its URIs for the suite, its updates and its security updates.
sources=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' \
  'Identifier: Packages' 'Origin: Debian' 2>/dev/null |
  awk -v s="$suite" '$2 == s || $2 == s "-updates" || $2 == s "-security"' | sort -u)
mirror=$(awk -v s="$suite" '$2 == s { print $1; exit }' <<<"$sources")
if [ -z "$mirror" ]; then
  echo "build-image: the host's apt has no Debian $suite source (run apt-get update?)" >&2
  exit 1
fi

mapfile -t packages < <(sed 's/#.*//; /^[[:space:]]*$/d' "$here/guest-packages")
umount_proc() { $sudo umount "$1/proc" 2>/dev/null || true; }
start=$SECONDS
if [ ! -f "$system/.vorse-ready" ]; then
  work="$system.tmp"
  $sudo rm -rf "$work"
  trap 'umount_proc "$work"; $sudo rm -rf "$work"' EXIT
  echo "build-image: debootstrap $suite from $mirror" >&2
  $sudo debootstrap --variant=minbase --arch=amd64 "$suite" "$work" "$mirror" >&2
  sed 's/^\([^ ]*\) \(.*\)$/deb \1 \2 main/' <<<"$sources" |
    $sudo tee "$work/etc/apt/sources.list" >/dev/null
  $sudo mount -t proc proc "$work/proc"
  in_root() {
    $sudo env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
      chroot "$work" "$@"
  }
  # The guest boots from a virtio disk, always the same: an initramfs of just its modules is
  # made in seconds, where one of most of the kernel's takes many minutes.
  $sudo mkdir -p "$work/etc/initramfs-tools/conf.d"
  echo MODULES=list | $sudo tee "$work/etc/initramfs-tools/conf.d/vorse-guest" >/dev/null
  printf '%s\n' virtio_pci virtio_blk ext4 crc32c_generic |
    $sudo tee "$work/etc/initramfs-tools/modules" >/dev/null
  in_root dpkg --add-architecture i386
  in_root apt-get update -q >&2
  echo "build-image: installing ${packages[*]}" >&2
  in_root apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-confold \
    "${packages[@]}" >&2
  in_root apt-get clean
  umount_proc "$work"
  $sudo rm -rf "$work/var/lib/apt/lists/"*
  echo vorse-x86 | $sudo tee "$work/etc/hostname" >/dev/null
  $sudo touch "$work/.vorse-ready"
  $sudo rm -rf "$system"
  $sudo mv "$work" "$system"
  trap - EXIT
  echo "build-image: system installed in $((SECONDS - start))s" >&2
fi

work="$image.tmp"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
$sudo install -m 755 "$here/guest-init.sh" "$system/sbin/vorse-init"
cp "$(ls "$system"/boot/vmlinuz-* | tail -n 1)" "$work/vmlinuz"
$sudo cat "$(ls "$system"/boot/initrd.img-* | tail -n 1)" >"$work/initrd.img"
# Room to spare beyond what the system takes; the tests write to tmpfs, not to this disk.
size_mb=$(($($sudo du -sm "$system" | cut -f1) + 512))
$sudo mkfs.ext4 -q -L vorse-x86 -d "$system" "$work/disk.img" "${size_mb}M" >&2
$sudo chown "$(id -u):$(id -g)" "$work/disk.img"
echo "build-image: image made in $((SECONDS - start))s" >&2
rm -rf "$image"
mv "$work" "$image"
trap - EXIT
touch "$image/ready"
printf '%s\n' "$image"
