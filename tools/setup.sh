#!/usr/bin/env bash
# Installs what Pelmora Tinsoke needs on Debian 12 (only what is missing),
# builds it in ./build, then starts the program or runs every check; or builds
# the Debian package in ./build-package.
#
#   bash tools/setup.sh run      install, build, start the program
#   bash tools/setup.sh test     install, build with warnings as errors, check
#                                the formatting, run all tests
#   bash tools/setup.sh package  install, build in Release, make the .deb and
#                                check it; its path is the last line printed
#   bash tools/setup.sh fuzz [S] install clang, build the picture parsers' fuzz
#                                targets in ./build-fuzz and run each S seconds
#                                (default 60); prints executions and coverage
set -euo pipefail

mode=${1:-}
case "$mode" in
run | test | package | fuzz) ;;
*)
    echo "usage: bash tools/setup.sh run|test|package|fuzz [seconds]" >&2
    exit 2
    ;;
esac
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake clang-format
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
    zlib1g-dev # the picture check reads colour profiles PNG keeps compressed
    libsqlite3-dev # the memory of finished files
    procps     # the tests look for tools left running with pgrep
    libgtest-dev
    fonts-ipafont-gothic
    desktop-file-utils # the install test checks the menu entry with it
    # the optimizers Debian has; pngout, pngrewrite and cpngc are not packaged
    libjpeg-turbo-progs jpegoptim optipng pngcrush advancecomp
    zopfli   # zopflipng, a PNG tool a user may add as their own
    parallel # a test spreads a run over GNU parallel, as the README shows
)
if [ "$mode" = package ]; then
    # dpkg-shlibdeps and dpkg-buildflags; the checks of the package and its files
    packages+=(dpkg-dev file lintian appstream)
fi
if [ "$mode" = fuzz ]; then
    packages+=(clang libclang-rt-14-dev) # libFuzzer and the sanitizers' runtimes
fi

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

if [ "$mode" = package ]; then
    # Debian's hardening flags, all of them (bindnow too); no tests in the package.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DTINSOKE_BUILD_TESTS=OFF \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    cmake --build build-package -j"$jobs"
    rm -f build-package/*.deb
    (cd build-package && cpack -G DEB)
    deb=$(ls "$PWD"/build-package/pelmora-tinsoke_*.deb)
    echo "== checks"
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
    dpkg-deb -x "$deb" "$stage"
    desktop-file-validate "$stage"/usr/share/applications/pelmora-tinsoke.desktop
    appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.metainfo.xml
    lintian --fail-on error "$deb"
    echo "$deb"
    exit 0
fi

if [ "$mode" = fuzz ]; then
    seconds=${2:-60}
    cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build-fuzz -j"$jobs"
    rm -rf build-fuzz/corpus
    build-fuzz/make_corpus build-fuzz/corpus
    failed=0
    for target in jpeg png orientation; do
        # New inputs are kept in found/ for the next run; a crash in crashes/.
        mkdir -p "build-fuzz/found/$target" build-fuzz/crashes
        log=build-fuzz/$target.log
        rc=0
        start=$SECONDS
        "build-fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$target-" \
            "build-fuzz/found/$target" "build-fuzz/corpus/$target" >"$log" 2>&1 || rc=$?
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
        ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
        crashes=$(grep -c 'Test unit written' "$log" || true)
        echo "fuzz_$target: ${runs:-0} executions in $((SECONDS - start)) s, coverage ${cov:-0} edges, ${ft:-0} features, $crashes crashes"
        if [ "$rc" -ne 0 ]; then
            tail -n 30 "$log" >&2
            failed=1
        fi
    done
    exit "$failed"
fi

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
# The tests start copies of the program, so its own folder keeps what it had
# and the next `run` is as the user left it: a first start after a fresh build.
ini=build/src/app/pelmora-tinsoke.ini
before=$(sha256sum "$ini" 2>/dev/null || echo none)
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"
if [ "$(sha256sum "$ini" 2>/dev/null || echo none)" != "$before" ]; then
    echo "the tests changed $ini" >&2
    exit 1
fi
