# shellcheck shell=bash disable=SC2034 # sets variables for the stage that sources it
# Sourced by the ARM VM stage, once per architecture: arm_kernel ARCH
# downloads once, into build/arm-vm/ARCH, Debian's kernel package for ARCH
# (the one that linux-image-arm64 or linux-image-armmp stands for) and its
# busybox-static, with tools/foreign-apt (never installed, dpkg's
# architectures left alone), and unpacks the kernel, its device trees, the
# modules that the VMs load and busybox. Sets kernel_pkg, kernel_image,
# dtb_dir, modules_dir, busybox and OBJCOPY (the cross binutils' objcopy,
# which reads the kernel's modules) for modules.sh's add_module.

# shellcheck source=.ci/stages/kernel-vm/modules.sh
. .ci/stages/kernel-vm/modules.sh

arm_kernel() {
  local arch=$1 flavour triple work apt deb version modules
  case $arch in
    arm64) flavour=arm64 triple=aarch64-linux-gnu ;;
    armhf) flavour=armmp triple=arm-linux-gnueabihf ;;
    *) echo "no kernel for $arch" >&2; return 1 ;;
  esac
  work=$PWD/build/arm-vm/$arch
  apt=$work/apt
  mkdir -p "$work"
  kernel_pkg=$(tools/foreign-apt "$arch" "$apt" apt-cache depends "linux-image-$flavour" |
    sed -n "s/^ *Depends: \(linux-image-[0-9][^ ]*-$flavour\)\$/\1/p" | head -n 1)
  [ -n "$kernel_pkg" ] || { echo "no kernel package behind linux-image-$flavour ($arch)" >&2; return 1; }
  version=${kernel_pkg#linux-image-}
  if ! ls "$work/${kernel_pkg}_"*.deb "$work"/busybox-static_*.deb >/dev/null 2>&1; then
    echo "== downloading $kernel_pkg and busybox-static for $arch"
    rm -f "$work"/*.deb
    (cd "$work" && "$OLDPWD/tools/foreign-apt" "$arch" "$apt" apt-get download -q "$kernel_pkg" busybox-static)
  fi
  deb=$(ls "$work/${kernel_pkg}_"*.deb)
  modules=./lib/modules/$version/kernel
  if [ ! -e "$work/unpacked/$modules/fs/ext4" ]; then
    rm -rf "$work/unpacked" && mkdir -p "$work/unpacked"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work/unpacked" --wildcards "./boot/vmlinuz-$version" \
      "./usr/lib/linux-image-$version/*" "$modules/drivers/watchdog/*" "$modules/drivers/virtio/*" \
      "$modules/drivers/block/*" "$modules/drivers/mmc/*" "$modules/fs/*" "$modules/lib/*" "$modules/crypto/*"
    dpkg-deb --fsys-tarfile "$work"/busybox-static_*.deb | tar -x -C "$work/unpacked" ./bin/busybox
  fi
  kernel_image=$work/unpacked/boot/vmlinuz-$version
  dtb_dir=$work/unpacked/usr/lib/linux-image-$version
  modules_dir=$work/unpacked/$modules
  busybox=$work/unpacked/bin/busybox
  OBJCOPY=$triple-objcopy
}
