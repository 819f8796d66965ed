#!/usr/bin/env bash
# Checks what a technician gets from `cmake --install` and from the Debian package.
#   packaging_test.sh install BUILD_DIR STAGE_DIR EXPECTED_FILES
#   packaging_test.sh desktop STAGE_DIR
#   packaging_test.sh metainfo STAGE_DIR
#   packaging_test.sh deb BUILD_DIR OUT_DIR EXPECTED_FILES PROGRAM
# Exit 0 pass, 1 fail, 77 skip (a tool the check needs is not installed).
set -euo pipefail

ICON_SIZES=(16 32 48 256)
USB_VENDOR=0483
USB_PRODUCT=5720

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
need() { command -v "$1" >/dev/null 2>&1 || skip "$1 is not installed (scripts/deps.sh installs it)"; }

# Compares two files of lines; on a difference shows the first differing line, then all.
expect_lines() {
    local what=$1 expected=$2 actual=$3
    cmp -s "$expected" "$actual" && return 0
    local n=1 e a
    while :; do
        e=$(sed -n "${n}p" "$expected"); a=$(sed -n "${n}p" "$actual")
        [ "$e" != "$a" ] && break
        n=$((n + 1))
    done
    echo "$what: first difference at line $n: expected '${e}', got '${a}'" >&2
    diff -u --label expected --label actual "$expected" "$actual" >&2 || true
    exit 1
}

# Value of KEY in the [Desktop Entry] group.
desktop_key() {
    sed -n "/^\[Desktop Entry\]/,/^\[/{s/^$2=//p}" "$1" | head -n 1
}

# Width and height stored in a PNG's header, or nothing when the file is not a PNG.
png_size() {
    local head
    head=$(od -An -tx1 -N24 "$1" | tr -d ' \n')
    [ "${head:0:16}" = 89504e470d0a1a0a ] || return 0
    echo "$((16#${head:32:8}))x$((16#${head:40:8}))"
}

# The product version the program carries in its own version record (readelf shows
# each line's end as a literal \n).
program_version() {
    readelf -p .quillon_version "$1" | sed -n 's/.*ProductVersion=\([^\\ ]*\).*/\1/p'
}

check_install() {
    local build=$1 stage=$2 expected=$3
    rm -rf "$stage"
    if ! DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1; then
        cat "$stage.log" >&2
        fail "cmake --install into $stage failed"
    fi

    sed 's|^|usr/|' "$expected" >"$stage.expected"
    (cd "$stage" && find . -type f -o -type l) | sed 's|^\./||' | LC_ALL=C sort >"$stage.actual"
    expect_lines "installed files" "$stage.expected" "$stage.actual"

    [ -x "$stage/usr/bin/quillon" ] || fail "usr/bin/quillon is not executable"

    local rule
    for rule in "$stage"/usr/lib/udev/rules.d/*.rules; do
        local number=${rule##*/}
        number=${number%%-*}
        # systemd's 73-seat-late.rules turns the uaccess tag into an ACL; a later rule is ignored.
        if ! [[ $number =~ ^[0-9]+$ ]] || [ "$((10#$number))" -ge 73 ]; then
            fail "${rule##*/} is not numbered below 73, where 73-seat-late.rules applies uaccess"
        fi
        grep -v '^[[:space:]]*#' "$rule" |
            grep 'SUBSYSTEM=="usb"' | grep "ATTR{idVendor}==\"$USB_VENDOR\"" |
            grep "ATTR{idProduct}==\"$USB_PRODUCT\"" | grep -q 'TAG+="uaccess"' ||
            fail "${rule##*/} has no rule tagging USB $USB_VENDOR:$USB_PRODUCT for uaccess"
    done

    local size got
    for size in "${ICON_SIZES[@]}"; do
        got=$(png_size "$stage/usr/share/icons/hicolor/${size}x${size}/apps/quillon.png")
        [ "$got" = "${size}x${size}" ] ||
            fail "hicolor/${size}x${size}/apps/quillon.png is '${got:-not a PNG}'"
    done
}

check_desktop() {
    local stage=$1
    need desktop-file-validate
    local entry=$stage/usr/share/applications/quillon.desktop
    [ -f "$entry" ] || fail "no installed desktop entry at $entry"

    # Some errors still exit 0, and a hint can mean a menu without the entry: any remark fails.
    local report
    report=$(desktop-file-validate "$entry" 2>&1) || { echo "$report" >&2; fail "desktop-file-validate rejects the entry"; }
    [ -z "$report" ] || { echo "$report" >&2; fail "desktop-file-validate has remarks on the entry"; }

    [ "$(desktop_key "$entry" Terminal)" = false ] || fail "the entry does not say Terminal=false"
    local exec
    exec=$(desktop_key "$entry" Exec)
    exec=${exec%% *}
    [ -x "$stage/usr/bin/$exec" ] || fail "Exec=$exec is not an installed program"
    local icon size
    icon=$(desktop_key "$entry" Icon)
    for size in "${ICON_SIZES[@]}"; do
        [ -f "$stage/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ] ||
            fail "Icon=$icon has no ${size}x${size} picture in the hicolor theme"
    done
}

check_metainfo() {
    local stage=$1
    need appstreamcli
    local files=("$stage"/usr/share/metainfo/*.metainfo.xml)
    if [ ${#files[@]} -ne 1 ] || [ ! -f "${files[0]}" ]; then
        fail "expected one metainfo file, found: ${files[*]}"
    fi
    local metainfo=${files[0]}

    appstreamcli validate --no-net "$metainfo" >&2 || fail "appstreamcli rejects ${metainfo##*/}"

    local launchable binary screenshot
    launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
    [ -f "$stage/usr/share/applications/$launchable" ] ||
        fail "launchable '$launchable' is not an installed desktop entry"
    binary=$(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo")
    [ -x "$stage/usr/bin/$binary" ] || fail "provided binary '$binary' is not installed"
    screenshot=$(sed -n 's|.*<image>\(.*\)</image>.*|\1|p' "$metainfo")
    [[ $screenshot == https://*/docs/main-window.png ]] ||
        fail "screenshot '$screenshot' is not the main window picture"
}

check_deb() {
    local build=$1 out=$2 expected=$3 program=$4
    need dpkg-deb
    need dpkg-shlibdeps
    need file  # CPack finds the programs to pass to dpkg-shlibdeps with it
    rm -rf "$out"
    mkdir -p "$out"
    if ! (cd "$build" && cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake") >"$out/cpack.log" 2>&1; then
        cat "$out/cpack.log" >&2
        fail "cpack -G DEB failed"
    fi

    local version arch
    version=$(program_version "$program")
    [ -n "$version" ] || fail "no ProductVersion in $program"
    arch=$(dpkg --print-architecture)
    local deb=$out/quillon_${version}_${arch}.deb
    [ -f "$deb" ] || fail "no $deb; cpack made: $(cd "$out" && ls -- *.deb 2>/dev/null)"

    [ "$(dpkg-deb -f "$deb" Package)" = quillon ] || fail "package name is not quillon"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
        fail "package version $(dpkg-deb -f "$deb" Version) differs from the program's $version"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "architecture is not $arch"

    local depends names
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    names=$(echo "$depends" | tr ',|' '\n' | sed 's/(.*//; s/[[:space:]]//g')
    echo "$names" | grep -qx 'libqt6widgets6' || fail "Depends does not name Qt 6 Widgets: $depends"
    echo "$names" | grep -qx 'libqt6core6' || fail "Depends does not name Qt 6 Core: $depends"
    echo "$names" | grep -qx 'libusb-0.1-4' || fail "Depends does not name libusb-0.1-4: $depends"

    dpkg-deb -c "$deb" >"$out/contents"
    awk '$1 ~ /^[-l]/ {print $6}' "$out/contents" | sed 's|^\./usr/||' | LC_ALL=C sort >"$out/actual"
    LC_ALL=C sort "$expected" >"$out/expected"
    expect_lines "package contents" "$out/expected" "$out/actual"
    ! awk '$2 != "root/root"' "$out/contents" | grep -q . ||
        fail "files not owned by root: $(awk '$2 != "root/root"' "$out/contents")"

    dpkg-deb -e "$deb" "$out/control"
    [ -x "$out/control/postinst" ] || fail "the package has no executable postinst"
    sh -n "$out/control/postinst" || fail "postinst is not valid sh"
}

mode=${1:-}
shift || true
case $mode in
    install) check_install "$@" ;;
    desktop) check_desktop "$@" ;;
    metainfo) check_metainfo "$@" ;;
    deb) check_deb "$@" ;;
    *) fail "unknown mode '$mode'" ;;
esac
echo "PASS: $mode"
