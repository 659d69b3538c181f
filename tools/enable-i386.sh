#!/bin/sh
# Makes sure this machine can run 32-bit x86 programs (the native twin's tests and wine).
# Some kernels refuse them outright; there the kernel is told to hand them to qemu's
# user-mode emulator, which runs them transparently, if more slowly.
set -eu

can_run_i386() {
    /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

can_run_i386 && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "enable-i386: this kernel does not run 32-bit programs; run as root to set up the emulator" >&2
    exit 1
fi
if ! command -v qemu-i386 >/dev/null 2>&1; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q --no-install-recommends qemu-user ||
        apt-get install -y -q --no-install-recommends -o APT::Default-Release=bookworm qemu-user
fi
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ ! -e "$binfmt/kestrel-i386" ]; then
    # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
    # F: the emulator is opened now, so it also serves programs in other mount namespaces.
    printf '%s' ':kestrel-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:OCF' \
        >"$binfmt/register"
fi
if ! can_run_i386; then
    echo "enable-i386: 32-bit programs still do not run after registering qemu-i386" >&2
    exit 1
fi
echo "enable-i386: 32-bit programs run through qemu-i386 on this kernel" >&2
