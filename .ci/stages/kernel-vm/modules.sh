# shellcheck shell=bash # sourced; uses the sourcing stage's $modules_dir, $kernel_pkg and $root
# A kernel's modules copied into an initramfs: $modules_dir is the unpacked
# kernel's lib/modules/<version>/kernel, $root the initramfs being made,
# $OBJCOPY the objcopy that reads the kernel's architecture (the build
# machine's by default; a cross binutils' for a foreign kernel).
# Shared by the stages that boot Debian's kernels in qemu (x86 and ARM).

# A module's file, uncompressed into the initramfs (busybox insmod reads
# plain .ko only); prints its name there.
module_file() {
  local name=$1 file
  file=$(find "$modules_dir" \( -name "$name.ko*" -o -name "${name//_/-}.ko*" \) | head -n 1)
  [ -n "$file" ] || { echo "module $name not found in $kernel_pkg" >&2; return 1; }
  case $file in
    *.ko.xz) xz -dc "$file" >"$root/lib/modules/$name.ko" ;;
    *.ko.zst) zstd -qdc "$file" >"$root/lib/modules/$name.ko" ;;
    *.ko.gz) gzip -dc "$file" >"$root/lib/modules/$name.ko" ;;
    *) cp "$file" "$root/lib/modules/$name.ko" ;;
  esac
}

# Appends the modules that `name` needs, then `name` itself, to a load list,
# each by the name that /sys/module knows it by (underscores, not dashes).
add_module() {
  local name=$1 list=$2 deps dep
  grep -qx "$name" "$list" 2>/dev/null && return 0
  module_file "$name"
  # Through a file: a cross objcopy cannot write to a pipe.
  "${OBJCOPY:-objcopy}" -O binary --only-section=.modinfo "$root/lib/modules/$name.ko" "$root/modinfo"
  deps=$(tr '\0' '\n' <"$root/modinfo" | sed -n 's/^depends=//p' | tr ',-' ' _')
  rm -f "$root/modinfo"
  for dep in $deps; do add_module "$dep" "$list"; done
  echo "$name" >>"$list"
}
