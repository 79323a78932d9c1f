#!/usr/bin/env bash
# Installs the build tree into a temporary root and runs the installed programs there, so a
# file the install forgets (texts, pictures, icons) shows up as a failure.
# Usage: install_test.sh BUILD_DIR [WITH_UI=1]
set -euo pipefail
build=$1
with_ui=${2:-1}
scratch=${TEST_TMPDIR:-${TMPDIR:-/tmp}}
root=$(mktemp -d "$scratch/install-test.XXXXXX")
pid=
cleanup() {
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
    fi
    rm -rf "$root"
}
trap cleanup EXIT
fail() {
    echo "install test: $*" >&2
    exit 1
}

prefix=$root/usr
cmake --install "$build" --prefix "$prefix" >"$root/install.log" || {
    cat "$root/install.log" >&2
    fail "cmake --install failed"
}

expect=(
    bin/tavrikctl
    libexec/tavrik/tavrik-fetch
    share/tavrik/res/lang/en/strings.ini
    lib/udev/rules.d/70-tavrik.rules
    share/man/man1/tavrikctl.1
    share/bash-completion/completions/tavrikctl
)
if ((with_ui)); then
    expect+=(
        bin/tavrik
        lib/tavrik/tavrik-paper.so
        share/tavrik/res/uipics/tavrik.png
        share/applications/org.tavrik.Tavrik.desktop
        share/metainfo/org.tavrik.Tavrik.metainfo.xml
        share/man/man1/tavrik.1
    )
    for size in 16 24 32 48 64 128 256; do
        expect+=("share/icons/hicolor/${size}x${size}/apps/org.tavrik.Tavrik.png")
    done
fi
for f in "${expect[@]}"; do
    [[ -e $prefix/$f ]] || fail "not installed: $f"
done

# The metainfo, desktop entry and icon together, as a software centre finds them.
if ((with_ui)) && command -v appstreamcli >/dev/null; then
    appstreamcli validate-tree --no-net "$root" >"$root/tree.log" 2>&1 ||
        { cat "$root/tree.log" >&2; fail "appstreamcli validate-tree refused the install tree"; }
fi

# The programs look for their files from their own folder; a home of their own keeps the
# user's files out of it.
home=$root/home
mkdir -p "$home" "$root/local/Tavrik" "$root/config" "$root/data"
export HOME=$home LOCALAPPDATA=$root/local XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data
export LC_ALL=C LANG=C
unset LC_MESSAGES

version=$("$prefix/bin/tavrikctl" --version) || fail "tavrikctl --version failed"
[[ $version =~ ^tavrikctl\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "tavrikctl --version said '$version'"
if ((with_ui)); then
    grep -q "<release version=\"${version#tavrikctl }\"" \
        "$prefix/share/metainfo/org.tavrik.Tavrik.metainfo.xml" ||
        fail "the metainfo has no release ${version#tavrikctl }"
    [[ $("$prefix/bin/tavrik" --version) == "tavrik ${version#tavrikctl }" ]] ||
        fail "tavrik --version does not say the version tavrikctl says"
fi

# Only the download helper loads the transfer and TLS libraries, and the installed
# programs find it: a refused connection is said as such, not as a missing helper.
for program in bin/tavrikctl $( ((with_ui)) && echo bin/tavrik); do
    if ldd "$prefix/$program" | grep -q libcurl; then
        fail "$program links the transfer library; only libexec/tavrik/tavrik-fetch may"
    fi
done
status=0
timeout 60 "$prefix/bin/tavrikctl" update check --server http://127.0.0.1:9/ --timeout 10 \
    >"$root/check.txt" 2>&1 || status=$?
[[ $status -ne 0 ]] || fail "an update check against a closed port reported success"
if grep -q "helper" "$root/check.txt"; then
    cat "$root/check.txt" >&2
    fail "the installed tavrikctl did not find its download helper"
fi

sim=$root/kb.json
timeout 60 "$prefix/bin/tavrikctl" sim init "$sim" --keys 12 >/dev/null ||
    fail "the installed tavrikctl could not make a simulated keyboard"
timeout 60 "$prefix/bin/tavrikctl" --simulate="$sim" list >"$root/list.txt" 2>&1 ||
    { cat "$root/list.txt" >&2; fail "the installed tavrikctl could not list the simulated keyboard"; }
[[ -s $root/list.txt ]] || fail "the installed tavrikctl listed nothing"

((with_ui)) || exit 0

printf '[Config1]\nAutoStart=N\nMinAfterStart=N\nCloseToMin=Y\nAutoUpgrade=N\nLanguage=en\n' \
    >"$root/local/Tavrik/ccsetup.ini"
log=$root/tavrik.err
QT_QPA_PLATFORM=offscreen "$prefix/bin/tavrik" --simulate="$sim" >"$log" 2>&1 &
pid=$!
# The window is built (its pictures loaded) once it starts the keyboard's threads; then a
# moment to show and paint. Bounded.
for _ in $(seq 1 600); do
    grep -q "Start Read/write thread\|Picture missing or unreadable" "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
sleep 2
kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; fail "the installed tavrik ended by itself"; }
kill -TERM "$pid"
status=
for _ in $(seq 1 300); do
    if ! kill -0 "$pid" 2>/dev/null; then
        status=0
        wait "$pid" || status=$?
        break
    fi
    sleep 0.1
done
[[ -n $status ]] || fail "the installed tavrik did not end within 30 s of SIGTERM"
pid=
[[ $status -eq 0 ]] || { cat "$log" >&2; fail "the installed tavrik exited $status on SIGTERM"; }
if grep -h "Picture missing or unreadable" "$log" "$root/local/Tavrik/TavrikDebug.log" 2>/dev/null; then
    fail "the installed tavrik misses pictures"
fi
echo "install test: installed into $prefix and ran $version and tavrik"
