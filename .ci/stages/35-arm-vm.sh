#!/usr/bin/env bash
# The cross-built programs on ARM SoC watchdogs: the arm64 and armhf builds
# (with the distribution's hardening flags, as packaged) and their tarballs,
# unpacked into a busybox initramfs of that architecture, boot with Debian's
# own kernels (linux-image-arm64, linux-image-armmp: downloaded with
# tools/foreign-apt, unpacked, never installed) on the boards that QEMU
# models, under TCG:
#   virt with an i6300esb (arm64)    the reset proof, the record on a virtio disk
#   sbsa-ref (arm64)                 SBSA generic watchdog, the project's device tree
#   mcimx7d-sabre (i.MX7D, armhf)    the reset proof, the record on an SD card
#   sabrelite (i.MX6Q, armhf)        --expire, which must not reset it (a quirk)
#   ast2600-evb (Aspeed BMC, armhf)  the reset proof, the record on the eMMC slot
# Each board's init (.ci/stages/arm-vm/init) judges wdt-check and the reset
# proof by its row of .ci/stages/arm-vm/expected and prints one result
# line; the stage ends the VM then (some boards cannot power off) and
# counts its boots. Two VMs at a time; a board that fails boots once more.
set -euo pipefail
cd "$(dirname "$0")/../.."

tools/deps arm-vm
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
work=build/arm-vm
mkdir -p "$work"
started=$SECONDS
took() { echo "== $1 ($(( SECONDS - started )) s so far)"; }

if command -v shellcheck >/dev/null; then
  shellcheck -x .ci/stages/arm-vm/init .ci/stages/35-arm-vm.sh tools/foreign-apt
fi

# shellcheck source=.ci/stages/package/build.sh
. .ci/stages/package/build.sh
# shellcheck source=.ci/stages/arm-vm/kernel.sh
. .ci/stages/arm-vm/kernel.sh

# One initramfs per architecture: busybox, the tarball's tree in /opt/wdt,
# the C and C++ libraries that the programs need (the cross compiler's
# copies, the target's own build), the module lists, the init and its table.
initramfs() {
  local arch=$1 triple tarball lib
  case $arch in arm64) triple=aarch64-linux-gnu ;; armhf) triple=arm-linux-gnueabihf ;; esac
  took "the $arch build and its tarball"
  package_build "$arch"
  rm -f "$build"/wdt-exerciser-*-Linux-"$arch".tar.gz
  (cd "$build" && cpack -G TGZ) >"$work/cpack-$arch.log" 2>&1 || { cat "$work/cpack-$arch.log"; exit 1; }
  tarball=$(ls "$build"/wdt-exerciser-*-Linux-"$arch".tar.gz)
  arm_kernel "$arch"
  took "the $arch initramfs with $kernel_pkg's modules"
  root=$work/$arch/root
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,mnt,etc/modules,lib/modules,lib/"$triple",opt/wdt}
  cp "$busybox" "$root/bin/busybox"
  ln -s busybox "$root/bin/sh"
  tar -xzf "$tarball" -C "$root/opt/wdt"
  cp -L /usr/"$triple"/lib/ld-linux-*.so.* "$root/lib/"
  # The libraries that the programs need, and those that these need.
  local changed=1
  while [ $changed = 1 ]; do
    changed=0
    for lib in $(readelf -d "$root"/opt/wdt/bin/* "$root"/opt/wdt/lib/wdt-exerciser/*.so \
      "$root/lib/$triple"/* 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | sort -u); do
      [ "$lib" = libwdtDLL.so ] || [ -e "$root/lib/$triple/$lib" ] || [ -e "$root/lib/$lib" ] ||
        { cp -L "/usr/$triple/lib/$lib" "$root/lib/$triple/"; changed=1; }
    done
  done
  case $arch in
    arm64)
      add_module_list i6300esb i6300esb
      add_module_list sbsa_gwdt sbsa_gwdt
      add_module_list disk virtio_pci virtio_blk crc32c_generic ext4 ;;
    armhf)
      add_module_list imx2_wdt imx2_wdt
      add_module_list disk sdhci_esdhc_imx sdhci_of_aspeed crc32c_generic ext4 ;;
  esac
  cp .ci/stages/arm-vm/init "$root/init"
  chmod +x "$root/init"
  cp .ci/stages/arm-vm/expected "$root/etc/expected"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/$arch/initramfs.gz"
  eval "kernel_$arch=\$kernel_image dtbs_$arch=\$dtb_dir"
}

# A load list in the initramfs: each module after those it needs.
add_module_list() {
  local list=$root/etc/modules/$1 m
  shift
  : >"$list"
  for m in "$@"; do add_module "$m" "$list"; done
}

initramfs arm64
initramfs armhf
# shellcheck disable=SC2154 # set by initramfs through eval
arm64_kernel=$kernel_arm64 armhf_kernel=$kernel_armhf armhf_dtbs=$dtbs_armhf

# sbsa-ref's tree, with the initramfs's end.
end=$(printf '0x%x' $(( 0x0a000000 + $(stat -c %s "$work/arm64/initramfs.gz") )))
sed "s/INITRD_END/$end/" .ci/stages/arm-vm/sbsa-ref.dts | dtc -q -I dts -O dtb -o "$work/sbsa-ref.dtb" -

# The qemu command line of a board (cmd) and the start of its kernel's
# (console: the console and wdt_disk, the record's disk). The record's disk
# has cache=unsafe: what the guest wrote survives the guest's reset in the
# host's page cache, and the host's own flush, which stalls for seconds
# under CI's builds, would only hold back the beats.
board() {
  local vm=$1 disk=$work/$1.img
  case $vm in
    virt)
      cmd=(qemu-system-aarch64 -M virt -cpu cortex-a57 -m 256 -device i6300esb
        -drive "file=$disk,format=raw,if=virtio,cache=unsafe" -kernel "$arm64_kernel" -initrd "$work/arm64/initramfs.gz")
      console="console=ttyAMA0 wdt_disk=vda" ;;
    sbsaref)
      cmd=(qemu-system-aarch64 -M sbsa-ref -smp 1 -m 256 -kernel "$arm64_kernel" -dtb "$work/sbsa-ref.dtb"
        -device "loader,file=$work/arm64/initramfs.gz,addr=0x1000a000000,force-raw=on")
      console="console=ttyAMA0" ;;
    imx7)
      cmd=(qemu-system-arm -M mcimx7d-sabre -smp 1 -m 256 -kernel "$armhf_kernel" -dtb "$armhf_dtbs/imx7d-sdb.dtb"
        -initrd "$work/armhf/initramfs.gz" -drive "file=$disk,format=raw,if=sd,index=2,cache=unsafe")
      console="console=ttymxc0 wdt_disk=mmcblk2" ;;
    sabrelite)
      # Its console is the second UART; QEMU 7.2 gives it no SD card.
      cmd=(qemu-system-arm -M sabrelite -smp 1 -m 512 -serial null -serial mon:stdio -kernel "$armhf_kernel"
        -dtb "$armhf_dtbs/imx6q-sabrelite.dtb" -initrd "$work/armhf/initramfs.gz")
      console="console=ttymxc1" ;;
    ast2600)
      # Index 2: the eMMC slot, after the two SD slots that this kernel leaves unprobed.
      cmd=(qemu-system-arm -M ast2600-evb -kernel "$armhf_kernel" -dtb "$armhf_dtbs/aspeed-ast2600-evb.dtb"
        -initrd "$work/armhf/initramfs.gz" -drive "file=$disk,format=raw,if=sd,index=2,cache=unsafe")
      console="console=ttyS4,115200 wdt_disk=mmcblk0" ;;
  esac
}

# Boots a board until its init prints its result (or 240 s pass), then
# ends it: a watchdog's reset boots it again in between. Writes the
# seconds it took to $work/VM.took.
run_vm() {
  local vm=$1 begun=$SECONDS pid cmd console
  rm -f "$work/$vm.img"
  mkfs.ext4 -q -F "$work/$vm.img" 16M
  board "$vm"
  : >"$work/$vm.log"
  "${cmd[@]}" -nographic -nic none -append "$console panic=-1 quiet wdt_vm=$vm" </dev/null >>"$work/$vm.log" 2>&1 &
  pid=$!
  while kill -0 $pid 2>/dev/null && [ $((SECONDS - begun)) -lt 240 ] && ! grep -q 'WDT-VM-RESULT' "$work/$vm.log"; do
    sleep 1
  done
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  echo $((SECONDS - begun)) >"$work/$vm.took"
}

# Boots the boards named, two at a time.
run_vms() {
  local vm
  for vm in "$@"; do
    while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
    run_vm "$vm" &
  done
  wait
}

vms=(virt imx7 ast2600 sabrelite sbsaref)
took "booting the boards, two at a time"
rm -f "$work"/*.first.log
run_vms "${vms[@]}"
# The emulated boards stall now and then: once the i.MX7's checker wrote no
# beat after 1.5 s, its board reset, and the verdict was "reset early". A
# board that fails boots once more, its first console kept and shown; a fault
# of the tools fails both.
again=()
for vm in "${vms[@]}"; do
  grep -q "WDT-VM-RESULT: PASS $vm" "$work/$vm.log" && continue
  mv "$work/$vm.log" "$work/$vm.first.log"
  again+=("$vm")
done
if [ ${#again[@]} != 0 ]; then
  took "booting again the boards that failed: ${again[*]}"
  run_vms "${again[@]}"
fi

status=0
for vm in "${vms[@]}"; do
  if [ -f "$work/$vm.first.log" ]; then
    echo "== console of the $vm VM's first run, which failed"
    tr -d '\r' <"$work/$vm.first.log" | sed -n '/== VM/,$p'
  fi
  echo "== console of the $vm VM"
  tr -d '\r' <"$work/$vm.log" | sed -n '/== VM/,$p'
  reset=$(awk -v vm="$vm" '$1 == vm { print $12 }' .ci/stages/arm-vm/expected)
  boots=$(grep -c "== VM $vm up" "$work/$vm.log" || true)
  want=1
  case $reset in card | none | early) want=2 ;; esac
  echo "== $vm: $boots boot(s) in $(cat "$work/$vm.took") s"
  grep -q "WDT-VM-RESULT: PASS $vm" "$work/$vm.log" || { echo "ARM VM $vm: FAILED" >&2; status=1; }
  [ "$boots" = $want ] || { echo "ARM VM $vm: $boots boots, not $want" >&2; status=1; }
done
echo "== ARM VM stage took $(( SECONDS - started )) s"
exit $status
