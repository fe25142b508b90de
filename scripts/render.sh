#!/usr/bin/env bash
# Sets up the machine and builds the project. Rendering audio through the plug-in arrives with the host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
echo "render: the command-line host is not built yet; nothing was rendered."
