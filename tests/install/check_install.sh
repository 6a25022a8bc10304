#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds the C example against
# it twice: once through find_package(pq640), once through pkg-config.
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
libdir=$(find "$work/prefix" -name 'libpq640.so.1' -printf '%h\n' | head -n 1)
[ -n "$libdir" ] || { echo "libpq640.so.1 not installed"; exit 1; }
[ -L "$libdir/libpq640.so" ] || { echo "libpq640.so link missing"; exit 1; }
[ -L "$libdir/libpq640.so.1" ] || { echo "libpq640.so.1 link missing"; exit 1; }
[ -f "$work/prefix/include/pq640/pq640.h" ] || { echo "header not installed"; exit 1; }
soname=$(objdump -p "$libdir/libpq640.so" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "libpq640.so.1" ] || { echo "SONAME is '$soname'"; exit 1; }

example=$source_dir/examples/check_link.c
check_runs() {
  # Without arguments the example prints its usage and exits 2; reaching that
  # proves the installed library was found and loaded.
  local status=0
  LD_LIBRARY_PATH=$libdir "$1" >/dev/null 2>&1 || status=$?
  [ "$status" -eq 2 ] || { echo "$1 exited $status"; exit 1; }
  # Captured first: grep -q closing the pipe early would fail ldd under pipefail.
  local loaded
  loaded=$(LD_LIBRARY_PATH=$libdir ldd "$1")
  grep -q "$libdir/libpq640.so.1" <<<"$loaded" \
    || { echo "$1 does not load the installed library"; exit 1; }
}

cmake -S "$source_dir/tests/install" -B "$work/cmake-build" \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DEXAMPLE_SOURCE="$example" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
check_runs "$work/cmake-build/check_link_installed"
echo "find_package: ok"

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$example" -o "$work/check_link_pc" \
  $(pkg-config --cflags --libs pq640)
check_runs "$work/check_link_pc"
echo "pkg-config: ok"
