# shellcheck shell=bash disable=SC2034,SC2154 # sets variables for the stage that sources it, uses its $root
# Sourced by the stages that boot Debian's kernel in qemu. Downloads once,
# into build/kernel-vm, the kernel package that linux-image-amd64 stands for
# and unpacks its kernel and the modules that the VMs load. Sets kernel_pkg,
# kernel_version, kernel_image and modules_dir, and defines add_module
# (modules.sh), which copies a module and those it needs into
# "$root/lib/modules", and add_module_list.
kernel_work=build/kernel-vm
mkdir -p "$kernel_work"

kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}
kernel_pkg=$(kernel_package || true)
if [ -z "$kernel_pkg" ] && [ -z "${CI_APT_UPDATED:-}" ]; then
  apt-get update -qq && kernel_pkg=$(kernel_package || true)
fi
[ -n "$kernel_pkg" ] || { echo "no kernel package behind linux-image-amd64" >&2; exit 1; }
kernel_version=${kernel_pkg#linux-image-}
if ! ls "$kernel_work/${kernel_pkg}_"*.deb >/dev/null 2>&1; then
  echo "== downloading $kernel_pkg"
  rm -f "$kernel_work"/linux-image-*.deb
  (cd "$kernel_work" && { apt-get download -q "$kernel_pkg" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true; })
fi
kernel_deb=$(ls "$kernel_work/${kernel_pkg}_"*.deb)
kernel_dir=$kernel_work/kernel
kernel_modules=./lib/modules/$kernel_version/kernel
if [ ! -e "$kernel_dir/$kernel_modules/fs/ext4" ]; then
  rm -rf "$kernel_dir" && mkdir -p "$kernel_dir"
  dpkg-deb --fsys-tarfile "$kernel_deb" | tar -x -C "$kernel_dir" --wildcards "./boot/vmlinuz-$kernel_version" \
    "$kernel_modules/drivers/watchdog/*" "$kernel_modules/drivers/mfd/*" "$kernel_modules/drivers/virtio/*" \
    "$kernel_modules/drivers/block/*" "$kernel_modules/fs/*" "$kernel_modules/lib/*" "$kernel_modules/crypto/*"
fi
kernel_image=$kernel_dir/boot/vmlinuz-$kernel_version
modules_dir=$kernel_dir/lib/modules/$kernel_version/kernel

# shellcheck source=.ci/stages/kernel-vm/modules.sh
. .ci/stages/kernel-vm/modules.sh

# The modules of one load list, each line a module after those it needs:
# softdog, i6300esb, iTCO_wdt (with lpc_ich, which makes the platform device
# that iTCO_wdt drives and nothing names), the pretimeout's governors and
# the disk (virtio and ext4, whose checksums need crc32c).
add_module_list() {
  local list=$1 m
  : >"$list"
  case ${list##*/} in
    iTCO_wdt) for m in iTCO_vendor_support intel_pmc_bxt lpc_ich iTCO_wdt; do add_module "$m" "$list"; done ;;
    disk) for m in virtio_pci virtio_blk crc32c_generic ext4; do add_module "$m" "$list"; done ;;
    pretimeout) for m in pretimeout_noop pretimeout_panic; do add_module "$m" "$list"; done ;;
    *) add_module "${list##*/}" "$list" ;;
  esac
}
