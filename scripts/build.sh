#!/usr/bin/env bash
# Installs whatever is missing (as root, with apt) and builds both trees:
# build/native (Linux, tests with sanitizers) and build/win32 (zelkora.exe).
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages
build_native
build_win32
log "built $WIN32_DIR/zelkora.exe"
