#!/bin/sh
# Builds LKH-3 from its source directory for the benchmark's LKH-3 column.
#
# Usage: benchmarks/build_lkh.sh SOURCE_DIR
#
# SOURCE_DIR is an unpacked copy of LKH-3's public source tarball
# (LKH-3.0.x.tgz from Keld Helsgaun's LKH-3 page, or a public snapshot of it).
# LKH-3 is distributed for academic and non-commercial use only: keep the
# source and the binary outside this repository; nothing here downloads it.
# The executable is SOURCE_DIR/LKH; pass it to `python -m benchmarks.run --lkh`.
set -eu
if [ $# -ne 1 ] || [ ! -f "$1/SRC/Makefile" ]; then
    echo "usage: $0 SOURCE_DIR (an unpacked LKH-3 source tree with SRC/Makefile)" >&2
    exit 2
fi
src=$(cd "$1" && pwd)
jobs=${JOBS:-2}
mkdir -p "$src/SRC/OBJ"
make -C "$src/SRC" -j "$jobs"
test -x "$src/LKH"
echo "built $src/LKH"
