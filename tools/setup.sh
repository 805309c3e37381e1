#!/usr/bin/env bash
# Installs what Pelmora Tinsoke needs on Debian 12 (only what is missing),
# builds it in ./build, then starts the program or runs every check.
#
#   bash tools/setup.sh run    install, build, start the program
#   bash tools/setup.sh test   install, build with warnings as errors, check
#                              the formatting, run all tests
set -euo pipefail

mode=${1:-}
case "$mode" in
run | test) ;;
*)
    echo "usage: bash tools/setup.sh run|test" >&2
    exit 2
    ;;
esac
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake clang-format
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
    zlib1g-dev # the picture check reads colour profiles PNG keeps compressed
    procps     # the tests look for tools left running with pgrep
    libgtest-dev
    fonts-ipafont-gothic
    desktop-file-utils # the install test checks the menu entry with it
    # the optimizers Debian has; pngout, pngrewrite and cpngc are not packaged
    libjpeg-turbo-progs jpegoptim optipng pngcrush advancecomp
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
if [ "$mode" = test ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINSOKE_WERROR=ON
else
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j"$jobs"

if [ "$mode" = run ]; then
    exec ./build/src/app/pelmora-tinsoke
fi

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror
echo "== tests"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"
