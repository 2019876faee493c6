#!/usr/bin/env bash
# Installs whatever is missing (as root, with apt) and builds the trees: build/release (the
# Linux tools, Release), build/native (Linux, tests with sanitizers) and build/win32
# (zelkora.exe).
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages
build_release
build_native
build_win32
log "built $WIN32_DIR/zelkora.exe"
