#!/usr/bin/env bash
# Builds everything and runs every test (headless).
source "$(dirname "$0")/setup.sh"
cd "$top/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
