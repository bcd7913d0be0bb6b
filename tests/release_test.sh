#!/usr/bin/env bash
# The release artefacts as a user meets them: scripts/package twice gives
# the same bytes; the zip holds exactly its files; its readme is UTF-8 with
# a byte-order mark and CRLF, names every label of the DLLs' descriptors and
# this version's changes; the DLLs' version resources are the version; the
# Debian package passes lintian and, in CI (as root), installs, runs (the
# command line, ffmpeg with the frei0r plug-in, gst-launch-1.0 and melt with
# the native filters) and leaves nothing behind when removed.
#
#   tests/release_test.sh WIN32_BUILD_DIR   (its norel_host and version_info)
set -euo pipefail
cd "$(dirname "$0")/.."
win32=$1
version=$(sed -n 's/^project(norel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
zip=dist/norel-$version-aviutl.zip
deb=dist/norel_${version}_amd64.deb
fail() { echo "release test: $*" >&2; exit 1; }

scripts/package
scripts/package build/package-again build/dist-again
for dll in norel.auf norel_decode.auf; do
    cmp "build/package/win32/$dll" "build/package-again/win32/$dll"
done
for f in "$zip" "$deb"; do
    cmp "$f" "build/dist-again/$(basename "$f")" || fail "$f differs between two builds"
done

expected="LICENSE norel.auf norel_decode.auf readme.txt"
cmake --list-presets | grep -q '"win64"' &&
    expected="LICENSE norel.auf norel.auf2 norel_decode.auf readme.txt"
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "$expected " ] || fail "$zip holds '$listed', expected '$expected'"

unpacked=build/package/unzipped
rm -rf "$unpacked" && mkdir -p "$unpacked" && unzip -q "$zip" -d "$unpacked"
readme=$unpacked/readme.txt
[ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "readme.txt has no BOM"
iconv -f UTF-8 -t UTF-8 "$readme" >/dev/null || fail "readme.txt is not valid UTF-8"
! grep -qv $'\r$' "$readme" || fail "readme.txt has lines without CRLF"
sed -n '/■ 更新履歴/,/■/p' "$readme" | grep -qx "$version"$'\r' ||
    fail "readme.txt's change history has no $version"
# The labels as the zip's DLLs hand them to the editor, in code page 932,
# and their version resources, read by 32-bit Windows programs: left out
# where the machine cannot run them (NOREL_WIN32_UNAVAILABLE says why).
if [ -n "${NOREL_WIN32_UNAVAILABLE:-}" ]; then
    echo "release test: not reading the DLLs' labels and version resources: $NOREL_WIN32_UNAVAILABLE"
else
    for dll in norel.auf:14 norel_decode.auf:4; do
        labels=$(wine "$win32/tests/norel_host.exe" "$unpacked/${dll%:*}" --describe | tr -d '\r' |
                 iconv -f CP932 -t UTF-8 | sed -n 's/^\(track\|check\) [0-9]*: \([^ ]*\)  .*/\2/p')
        [ "$(echo "$labels" | wc -l)" -eq "${dll#*:}" ] ||
            fail "${dll%:*} lists no ${dll#*:} labels: $labels"
        while read -r label; do
            grep -qF "・$label（" "$readme" || fail "readme.txt does not describe \"$label\""
        done <<<"$labels"
    done
    for dll in norel.auf norel_decode.auf; do
        cmake -DREADER="$win32/tests/version_info.exe" -DPLUGIN="$unpacked/$dll" \
              -DVERSION="$version" -P tests/check_version_resource.cmake
    done
fi

lintian --fail-on error "$deb"

if [ "${CI:-}" != true ] || [ "$(id -u)" -ne 0 ]; then
    echo "release test: not installing $deb (only in CI, as root)"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "./$deb" >/dev/null
trap 'apt-get remove -y -q norel >/dev/null 2>&1 || true' EXIT
if grep -q NOREL_VERSION hosts/cli/*.cpp; then
    out=$(env -i PATH=/usr/bin:/bin norel --version)
    [ "$out" = "norel $version" ] || fail "norel --version prints '$out'"
else
    echo "release test: skipping norel --version: the command-line host has no --version yet"
fi
[ "$(command -v norel)" = /usr/bin/norel ] || fail "norel is not /usr/bin/norel"
env -u FREI0R_PATH ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 1 \
    -vf frei0r=norel -f null - || fail "ffmpeg does not find frei0r=norel"
# The native filters where the hosts look for them, with their descriptions.
# grep reads all they print: one that stopped at the match would break the
# pipe, and the host's failed write the pipeline.
registry=$(mktemp)
env -u GST_PLUGIN_PATH GST_REGISTRY="$registry" gst-inspect-1.0 norel | grep 'chroma-bandwidth' >/dev/null ||
    fail "gst-inspect-1.0 does not find the element norel"
env -u GST_PLUGIN_PATH GST_REGISTRY="$registry" gst-launch-1.0 -q videotestsrc num-buffers=2 ! \
    video/x-raw,format=Y42B,width=64,height=48 ! norel cy=true shift=23 ! fakesink ||
    fail "gst-launch-1.0 cannot run the element norel"
rm -f "$registry"
env -u MLT_REPOSITORY -u MLT_DATA melt -query filter=norel 2>/dev/null | grep 'identifier: chroma_bandwidth' >/dev/null ||
    fail "melt does not find the filter norel's metadata"
# melt now and then hangs after its last frame: a run stopped by the timeout counts.
rc=0
env -u MLT_REPOSITORY -u MLT_DATA timeout 60 melt -silent color:red out=1 -filter norel cy=1 -consumer null \
    terminate_on_pause=1 2>/dev/null || rc=$?
[ $rc -eq 0 ] || [ $rc -eq 124 ] || fail "melt cannot run the filter norel"
for f in /usr/share/kdenlive/effects/norel.xml /usr/share/shotcut/qml/filters/norel/meta.qml \
         /usr/share/shotcut/qml/filters/norel/ui.qml; do
    [ -e "$f" ] || fail "$f is not installed"
done
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 2)}')
apt-get remove -y -q norel >/dev/null
trap - EXIT
for f in $files; do
    [ ! -e "$f" ] || fail "$f is left after apt-get remove"
done
! dpkg-query -W -f='${Status}\n' norel 2>/dev/null | grep -q "ok installed" ||
    fail "norel is still installed"
echo "release test: installed, ran and removed $deb"
