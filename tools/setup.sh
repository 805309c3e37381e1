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
#   bash tools/setup.sh windows  cross-build for 64-bit Windows in
#                                ./build-windows with warnings as errors and
#                                make the zip; its path is the last line printed
#   bash tools/setup.sh windows-test  the same with the tests, run under Wine
set -euo pipefail

mode=${1:-}
case "$mode" in
run | test | package | fuzz | windows | windows-test) ;;
*)
    echo "usage: bash tools/setup.sh run|test|package|fuzz [seconds]|windows|windows-test" >&2
    exit 2
    ;;
esac
cd "$(dirname "$0")/.."

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        "${as_root[@]}" apt-get update
        "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    fi
}
jobs=$(nproc 2>/dev/null || echo 2)

if [ "$mode" = windows ] || [ "$mode" = windows-test ]; then
    windows_packages=(
        cmake ninja-build build-essential qt6-base-dev qt6-base-dev-tools # the host's Qt tools
        g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
        libgtest-dev # its source, built for Windows with the tests
        dpkg-dev tcl # apt-get source; SQLite's amalgamation is made with tclsh
        xz-utils zip
    )
    [ "$mode" = windows-test ] && windows_packages+=(wine64 wine)
    install_missing "${windows_packages[@]}"

    # Qt for Windows and SQLite are made once into this cache from Debian's
    # source packages; a Qt ready-made beside the clone is taken instead.
    cache=${TINSOKE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pelmora-tinsoke/windows}
    qt_archive=qt6-mingw-6.4.2.tar.xz
    sdk=build-windows/qt6-mingw
    toolchain=$PWD/packaging/windows/mingw-w64-x86_64.cmake
    mkdir -p "$cache" build-windows

    # apt-get source needs deb-src lines for Debian's own archive.
    with_sources() {
        [ -n "$(apt-cache showsrc "$1" 2>/dev/null)" ] && return 0
        local f
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] && grep -q debian "$f" || continue
            case "$(basename "$f")" in src-*) continue ;; esac
            sed 's/^Types: deb$/Types: deb-src/' "$f" |
                "${as_root[@]}" tee "/etc/apt/sources.list.d/src-$(basename "$f")" >/dev/null
        done
        if [ -f /etc/apt/sources.list ] && grep -q '^deb .*debian' /etc/apt/sources.list; then
            sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list |
                "${as_root[@]}" tee /etc/apt/sources.list.d/src-sources.list >/dev/null
        fi
        "${as_root[@]}" apt-get update
    }

    # qtbase 6.4.2 (the host's version) built for x86_64-w64-mingw32 against
    # the host's tools, with its bundled libraries: about an hour on 2 cores.
    build_qt() {
        local work=$cache/qt-build
        local src=$work/qtbase-everywhere-src-6.4.2
        with_sources qt6-base
        rm -rf "$work" && mkdir -p "$work"
        (cd "$work" && apt-get source --download-only qt6-base=6.4.2+dfsg-10 &&
            tar xJf qt6-base_6.4.2+dfsg.orig.tar.xz)
        # Without OpenGL the Windows platform plugin still reaches for the dynamic-GL context.
        sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
            "$src/src/plugins/platforms/windows/qwindowswindow.cpp"
        # Tablet events are off: the source package leaves out the Wintab headers.
        cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
            -DCMAKE_INSTALL_PREFIX="$work/qt6-mingw" -DCMAKE_BUILD_TYPE=Release \
            -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
            -DFEATURE_sql=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
            -DFEATURE_tabletevent=OFF -DFEATURE_openssl=OFF -DINPUT_openssl=no \
            -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
            -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
            -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF
        cmake --build "$work/build" --parallel "$jobs"
        cmake --install "$work/build"
        # Relocatable: the toolchain file travels inside the SDK and Qt's finds it there.
        cp "$toolchain" "$work/qt6-mingw/lib/cmake/mingw-w64-x86_64.cmake"
        sed -i 's|^set(__qt_initially_configured_toolchain_file .*|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../mingw-w64-x86_64.cmake")|' \
            "$work/qt6-mingw/lib/cmake/Qt6/qt.toolchain.cmake"
        tar -C "$work" -cJf "$cache/$qt_archive" qt6-mingw
        rm -rf "$work"
    }

    if [ ! -x "$sdk/bin/qt-cmake" ]; then
        archive=../shared/windows/$qt_archive
        if [ ! -f "$archive" ]; then
            archive=$cache/$qt_archive
            [ -f "$archive" ] || build_qt
        fi
        echo "== Qt for Windows from $archive"
        tar -xJf "$archive" -C build-windows
    fi

    # SQLite for Windows: the amalgamation made from Debian's sqlite3 source.
    sqlite=$cache/sqlite3
    if [ ! -f "$sqlite/sqlite3.c" ]; then
        with_sources sqlite3
        rm -rf "$cache/sqlite-build" && mkdir -p "$cache/sqlite-build/amalgamation" "$sqlite"
        (cd "$cache/sqlite-build" && apt-get source sqlite3 && cd amalgamation &&
            ../sqlite3-*/configure --disable-tcl >/dev/null && make sqlite3.c)
        cp "$cache"/sqlite-build/amalgamation/sqlite3.[ch] "$sqlite/"
        rm -rf "$cache/sqlite-build"
    fi

    # Windows programs of this build run under Wine, in a prefix of its own,
    # finding the Qt and MinGW runtime DLLs where they are (unless WINEPATH
    # is given, even empty).
    gcc_dlls=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
    thread_dlls=/usr/x86_64-w64-mingw32/lib
    wine_dir() { echo "Z:$1" | tr / '\\'; }
    cat >build-windows/wine-run <<EOF_WINE
#!/bin/sh
export WINEPREFIX="$PWD/build-windows/wineprefix" WINEDEBUG="\${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=" # no runtime installers asking for a display
export WINEPATH="\${WINEPATH-$(wine_dir "$PWD/$sdk/bin");$(wine_dir "$gcc_dlls");$(wine_dir "$thread_dlls")}"
exec wine "\$@"
EOF_WINE
    chmod +x build-windows/wine-run

    tests=OFF
    [ "$mode" = windows-test ] && tests=ON
    "$sdk/bin/qt-cmake" -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DTINSOKE_WERROR=ON -DTINSOKE_BUILD_TESTS=$tests -DTINSOKE_SQLITE_AMALGAMATION="$sqlite" \
        -DZLIB_USE_STATIC_LIBS=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/build-windows/wine-run"
    cmake --build build-windows -j"$jobs"

    # The zip: the program, the Qt DLLs and plugins it uses, the MinGW runtime.
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
    name=pelmora-tinsoke-$version-win64
    stage=build-windows/zip/$name
    rm -rf build-windows/zip "build-windows/$name.zip"
    mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats"
    cp build-windows/src/app/pelmora-tinsoke.exe "$stage/"
    for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network; do
        cp "$sdk/bin/$dll.dll" "$stage/"
    done
    cp "$sdk/plugins/platforms/qwindows.dll" "$stage/platforms/"
    cp "$sdk/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
    cp "$sdk/plugins/imageformats/qjpeg.dll" "$stage/imageformats/"
    cp "$gcc_dlls/libstdc++-6.dll" "$gcc_dlls/libgcc_s_seh-1.dll" "$thread_dlls/libwinpthread-1.dll" \
        "$stage/"
    cp src/ui/resources/tinsoke.png "$stage/pelmora-tinsoke.png"
    sed 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"
    # The runtime DLLs come with their debugging symbols: the zip needs none.
    find "$stage" -name '*.dll' -o -name '*.exe' | xargs x86_64-w64-mingw32-strip --strip-unneeded
    (cd build-windows/zip && zip -qr "../$name.zip" "$name")

    if [ "$mode" = windows-test ]; then
        echo "== the zip's own program, with nothing but what the zip holds"
        WINEPATH= build-windows/wine-run "$stage/pelmora-tinsoke.exe" --version
        echo "== tests under Wine"
        # One at a time: the single-instance mutex is one per session, and
        # several tests start the program.
        ctest --test-dir build-windows --output-on-failure --no-tests=error
    fi
    echo "$PWD/build-windows/$name.zip"
    exit 0
fi

packages=(
    build-essential cmake clang-format
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
    zlib1g-dev # the picture check reads colour profiles PNG keeps compressed
    libjpeg62-turbo-dev # and a JPEG's DCT coefficients, as the JPEG tools do
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

install_missing "${packages[@]}"

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
    for target in jpeg png orientation coefficients; do
        seeds=$target
        [ "$target" = coefficients ] && seeds=jpeg # the JPEG parser's seeds
        # New inputs are kept in found/ for the next run; a crash in crashes/.
        mkdir -p "build-fuzz/found/$target" build-fuzz/crashes
        log=build-fuzz/$target.log
        rc=0
        start=$SECONDS
        "build-fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$target-" \
            "build-fuzz/found/$target" "build-fuzz/corpus/$seeds" >"$log" 2>&1 || rc=$?
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
