#!/usr/bin/env bash
# The main job: installs what is missing and builds the Windows program.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset win >/dev/null
cmake --build --preset win
echo
echo "Built into build/win. The setup program LumoraSetup.exe is not complete yet:"
echo "this build holds its libraries and their tests only."
