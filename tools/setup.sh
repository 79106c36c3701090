#!/usr/bin/env bash
# Installs what the builds and tests need, only if something is missing:
# the i386 architecture, 32-bit Wine, the mingw-w64 i686 toolchain, nginx
# (a real time service for the end-to-end tests), and the host toolchain.
# When all is present it returns at once.
set -euo pipefail

need_pkgs=()
have() { command -v "$1" >/dev/null 2>&1; }
pkg_ok() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

have i686-w64-mingw32-g++-posix || need_pkgs+=(g++-mingw-w64-i686-posix)
have i686-w64-mingw32-g++-win32 || need_pkgs+=(g++-mingw-w64-i686-win32)
have i686-w64-mingw32-objdump   || need_pkgs+=(binutils-mingw-w64-i686)
have wine || need_pkgs+=(wine)
pkg_ok wine32:i386 || need_pkgs+=(wine32:i386)
have nginx || [ -x /usr/sbin/nginx ] || need_pkgs+=(nginx-light)
have cmake || need_pkgs+=(cmake)
have g++ || need_pkgs+=(g++)
have clang++ || need_pkgs+=(clang)
have python3 || need_pkgs+=(python3)
have valgrind || need_pkgs+=(valgrind)
[ -f /usr/src/googletest/CMakeLists.txt ] || need_pkgs+=(googletest)
pkg_ok libgtest-dev || need_pkgs+=(libgtest-dev)
pkg_ok libbenchmark-dev || need_pkgs+=(libbenchmark-dev)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 \
  || need_pkgs+=(libclang-rt-14-dev)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ ${#need_pkgs[@]} -gt 0 ]; then
  echo "setup: installing ${need_pkgs[*]}" >&2
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" >&2
fi

# 32-bit Wine needs the kernel to run 32-bit x86 programs. Some virtual
# machines (paravirtualised guests among them) boot with that switched off;
# there, 32-bit programs run through qemu's user-mode emulator instead,
# registered with binfmt_misc. Wine needs qemu 8.1 or newer (MAP_FIXED_NOREPLACE),
# which Debian 12 has in its backports.
runs_i386() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if ! runs_i386; then
  qemu_ok() {
    local v
    v=$(qemu-i386-static --version 2>/dev/null | sed -nE '1s/.*version ([0-9]+)\.([0-9]+).*/\1 \2/p')
    [ -n "$v" ] && set -- $v && { [ "$1" -gt 8 ] || { [ "$1" -eq 8 ] && [ "$2" -ge 1 ]; }; }
  }
  if ! qemu_ok; then
    echo "setup: this kernel runs no 32-bit programs; installing qemu-user-static" >&2
    if ! apt-cache policy qemu-user-static 2>/dev/null | grep -q bpo; then
      . /etc/os-release
      echo "deb http://deb.debian.org/debian ${VERSION_CODENAME}-backports main" |
        $SUDO tee /etc/apt/sources.list.d/kestrune-backports.list >/dev/null
      $SUDO apt-get update -qq
    fi
    . /etc/os-release
    $SUDO apt-get install -y -qq --no-install-recommends \
      -t "${VERSION_CODENAME}-backports" qemu-user-static >&2
  fi
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo -1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null
  fi
  # ELF, 32-bit, little-endian, executable or shared object, machine i386.
  echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:POCF' |
    $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  runs_i386 || { echo "setup: 32-bit programs still do not run" >&2; exit 1; }
fi
