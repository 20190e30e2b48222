#!/usr/bin/env bash
# Builds the plug-in, installs the bundle into ~/.vst3 and renders a short demo through it
# with the project's own host tool.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export CCACHE_DIR="${CCACHE_DIR:-$HOME/.ccache}"
# Paths below the checkout are hashed relative to it, so another clone reuses the cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs" --target Quorvalis1_VST3 qvl_host

bundle="build/Quorvalis1_artefacts/Release/VST3/Quorvalis1.vst3"
installed="$HOME/.vst3/Quorvalis1.vst3"
mkdir -p "$HOME/.vst3"
rm -rf "$installed"
cp -R "$bundle" "$installed"
echo "Installed: $installed"

mkdir -p build/demo
output="$PWD/build/demo/quorvalis1-demo.wav"

# Four seconds of a 220 Hz sine and two seconds of tail, with a second grain stream a fifth up.
build/tools/qvl_host render "$installed" \
    --signal sine --freq 220 --amplitude 0.5 --seconds 4 --tail 2 --rate 48000 --block 512 \
    --set gain_db_dry=-6 --set gain_db_granulator=-9 --set stream_2_is_enabled=1 --set stream_2_grain_pitch=7 \
    --check-finite --out "$output"

echo
echo "Demo output: $output"
