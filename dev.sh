#!/usr/bin/env bash
# Installs what is missing, builds, and then starts the program (run) or runs every test (test).
set -euo pipefail
cd "$(dirname "$0")"
here=$(pwd)
jobs=$(nproc)

packages=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5-dev
    libimobiledevice-dev libplist-dev libusbmuxd-dev libimobiledevice-utils
    libsqlite3-dev sqlite3 libssl-dev googletest libgtest-dev libbenchmark-dev libkf5contacts-dev libicu-dev
    xvfb xauth dbus-x11 dbus-daemon tzdata fonts-dejavu-core)
bench_packages=(python3-vobject)
# What finds a phone on USB: libimobiledevice only recommends it, and we install without
# recommended packages. The tests need none (they run their own simulated phone).
run_packages=(usbmuxd)

install_missing() { # extra packages...
    local missing=()
    for p in "${packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

build() { # dir, extra cmake args...
    local dir=$1; shift
    cmake -S "$here" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$jobs"
}

build_fuzz() { # every library instrumented, clang's libFuzzer
    CC=clang CXX=clang++ cmake -S "$here" -B build-fuzz -G Ninja -DTW_BUILD_FUZZ=ON \
        -DTW_BUILD_TESTS=OFF -DTW_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build-fuzz -j "$jobs" --target tw_fuzz_all
}

run_tests() { # dir, extra ctest args...
    local dir=$1; shift
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

case "${1:-}" in
run)
    install_missing "${run_packages[@]}"
    cmake -S "$here" -B build -G Ninja
    # The simulated iPhone comes along, for trying the program without a phone (see README).
    cmake --build build -j "$jobs" --target tellwick fake-iphone
    exec ./build/app/tellwick
    ;;
test)
    install_missing
    build build
    run_tests build
    # Once more under AddressSanitizer and UndefinedBehaviorSanitizer. The runtime of GCC 12
    # takes some dynamic thread-local blocks for an old glibc's and, reading them, ends the leak
    # check in "Tracer caught signal 11" now and then: it is told not to look at them.
    build build-asan -DTW_SANITIZE=ON -DTW_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_tests build-asan
    # The fuzz targets, built with clang and run briefly, all at once.
    build_fuzz
    bash tests/fuzz/run.sh build-fuzz "${TW_FUZZ_SECONDS:-20}" "$jobs"
    ;;
fuzz)
    # Every fuzz target for MINUTES each (default 10), a few at a time; what they find stays in
    # build-fuzz/fuzz/corpus, crashes in build-fuzz/fuzz/artifacts.
    install_missing
    build_fuzz
    bash tests/fuzz/run.sh build-fuzz $((${2:-10} * 60)) "${TW_FUZZ_JOBS:-$(((jobs + 1) / 2))}"
    ;;
bench)
    install_missing "${bench_packages[@]}"
    build build
    for b in build/bench/*/*; do
        if [ -f "$b" ] && [ -x "$b" ]; then
            echo "== $b"
            "$b"
        fi
    done
    ;;
*)
    echo "usage: $0 run|test|bench|fuzz [MINUTES]" >&2
    exit 2
    ;;
esac
