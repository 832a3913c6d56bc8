#!/usr/bin/env bash
# Installs from Debian's packages what building and testing tarvik needs;
# with --training, also what the model pipeline in training/ needs; with
# --fuzz, also clang and libFuzzer for the fuzz targets of tests/fuzz/.
# Usage: install-deps.sh [--training] [--fuzz] (either, both, in any order)
set -euo pipefail

training=false
fuzz=false
for option in "$@"; do
  case "$option" in
    --training) training=true ;;
    --fuzz) fuzz=true ;;
    *)
      echo "usage: install-deps.sh [--training] [--fuzz]" >&2
      exit 2
      ;;
  esac
done

# Build and tests (python3-numpy: the Python tests of training/corpus; strace: the test that
# signals tarvik during its save, while strace holds the save's fsync back).
packages=(
  build-essential cmake clang-format
  libgtest-dev libbenchmark-dev
  praat python3-numpy strace
)
# With --training: the model pipeline and its data sources as well.
if $training; then
  packages+=(
    python3-torch libopenblas0-openmp ffmpeg sox libsox-fmt-mp3 fluidsynth fluid-soundfont-gm
    asterisk-core-sounds-en-g722 asterisk-core-sounds-es-g722
    asterisk-core-sounds-fr-g722 asterisk-core-sounds-it-g722
    espeak-ng festival festvox-kallpc16k festlex-cmu flite asterisk-moh-opsound-wav
    # Real speech (training/corpus/real_speech.py).
    tuxpaint-stamps-default drascula drascula-spanish drascula-italian
    fillets-ng-data-cs fillets-ng-data-nl flight-of-the-amazon-queen festvox-ru
    hedgewars-data warzone2100-data nexuiz-data megaglest-data 0ad-data trigger-rally-data
    unknown-horizons gcin-voice codec2-examples wims-help pocketsphinx-testdata
    # Real non-speech and impulse responses (training/corpus/real_noise.py).
    ufoai-music ufoai-sound warzone2100-music planetblupi-music-ogg wesnoth-1.16-music
    naev-data widelands-data nexuiz-music supertux-data supertuxkart-data berusky2-data
    singularity-music tecnoballz-data pingus-data openttd-openmsx simutrans-data freedink-data
    flightgear-data-base flare-game qabcs-data lincity-ng-data scratch openttd-opensfx
    torcs-data hydrogen-drumkits sonic-pi-samples lmms-common bucklespring-data redeclipse-data
    jconvolver-config-files python3-pyo
    minetest-data hyperrogue-music extremetuxracer-data wesnoth-1.16-data xmoto-data asc-music
    lomiri-sounds oxygen-sounds heroes-sound-effects timgm6mb-soundfont
    lugaru-data endless-sky-data freeorion-data drascula-music deepin-sound-theme btanks-data
    manaplus-data bzflag-data meritous-data
  )
fi
# With --fuzz: clang with its sanitizer and libFuzzer runtimes.
if $fuzz; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
