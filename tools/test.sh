#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -eu
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$top/tools/install-deps.sh"
bash "$top/tools/build.sh"
cd "$top/build"
ctest --output-on-failure "$@"
