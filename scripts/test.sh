#!/bin/sh
# Installs what is needed, builds everything and runs every test.
#   0. the layering check: no folder of the program includes a higher one;
#   1. the normal build (program, engine, devserver, all tests);
#   2. a clang build with AddressSanitizer and UndefinedBehaviorSanitizer
#      running the tests labelled "sanitize", fuzz targets included.
set -eu
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/check-layers.sh

JOBS="${JOBS:-$(nproc)}"
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS" --timeout 600

CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    -DONDAVOX_SANITIZE=address,undefined \
    -DONDAVOX_BUILD_FUZZERS=ON
cmake --build build-sanitize -j "$JOBS"
ctest --test-dir build-sanitize --output-on-failure -j "$JOBS" --timeout 600 -L sanitize
