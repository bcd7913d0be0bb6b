#!/usr/bin/env bash
# What a user set survives saving: a keyframed rectangle written out by
# MLT's XML consumer renders, from the saved file, the same bytes as the
# direct render (the native filter, by its rectangle and by the command
# line's names, and the frei0r plug-in); and projects as Shotcut and
# Kdenlive save them render the rectangle set in them, frame by frame the
# command line's bytes with that frame's rectangle.
#
#   saved_projects_test.sh NOREL MLT_MODULE MLT_YML FREI0R_PLUGIN_DIR
set -euo pipefail
norel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/mlt_environment.sh"
use_build_module "$work" "$2" "$3"
export MLT_FREI0R_PLUGIN_PATH=$4

w=720 h=480 frames=6
"$norel" --synthesize --frames $frames --size ${w}x$h --pix-fmt yuv422p --quiet -y "$work/in.y4m"
cat > "$work/profile" <<PROFILE
description=NTSC 720x480 interlaced
width=$w
height=$h
progressive=0
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=3
display_aspect_den=2
frame_rate_num=30000
frame_rate_den=1001
colorspace=601
PROFILE
profile_xml="<profile description=\"NTSC 720x480 interlaced\" width=\"$w\" height=\"$h\" progressive=\"0\" sample_aspect_num=\"1\" sample_aspect_den=\"1\" display_aspect_num=\"3\" display_aspect_den=\"2\" frame_rate_num=\"30000\" frame_rate_den=\"1001\" colorspace=\"601\"/>"

# melt now and then hangs once it has written and closed its output: a run
# is stopped after 30 seconds, and what it wrote is compared as usual.
melt_render() {  # output melt arguments...
    local out=$1 rc=0
    shift
    timeout 30 melt -silent "$@" -consumer "avformat:$out" f=rawvideo pix_fmt=yuv422p top_field_first=1 \
        real_time=-1 2>/dev/null || rc=$?
    [ $rc -eq 0 ] || [ $rc -eq 124 ] || { echo "melt failed ($rc): $*" >&2; return 1; }
}

failed=0
check() {  # what result expected
    if [ -s "$2" ] && cmp -s "$2" "$3"; then
        echo "ok: $1"
    else
        echo "FAILED: $1: $(cmp "$2" "$3" 2>&1 | head -1)" >&2
        failed=1
    fi
}

# The XML round trip: saved by -consumer xml, rendered from the saved file.
# The native filter by its rectangle and by the command line's names, whose
# width and height MLT's writer would drop; the frei0r plug-in.
round_trips=(
    "native rect;norel;rect=0=40 30 200 150;5=340 230 300 250;cy=1;shift=23"
    "native command-line names;norel;left=0=40;5=340;width=200;top=30;height=0=150;5=250;cy=1;mono=1"
    "frei0r;frei0r.norel;left=0.004;rect_width=0=0.02;5=0.03;top=0.003;rect_height=0.015;composite=1;shift=0.544921875"
)
for entry in "${round_trips[@]}"; do
    IFS=';' read -r name service rest <<<"$entry"
    # Properties split at ';' that do not start a keyframe ("5=...").
    mapfile -t properties < <(python3 -c 'import re, sys; print("\n".join(re.split(r";(?=[a-z_]+=)", sys.argv[1])))' "$rest")
    melt_render "$work/direct.yuv" -profile "$work/profile" "$work/in.y4m" -filter "$service" "${properties[@]}"
    timeout 30 melt -silent -profile "$work/profile" "$work/in.y4m" -filter "$service" "${properties[@]}" \
        -consumer "xml:$work/saved.mlt" 2>/dev/null || true
    melt_render "$work/saved.yuv" "$work/saved.mlt"
    check "XML round trip: $name" "$work/saved.yuv" "$work/direct.yuv"
    if [ "$service" = norel ] && ! grep -q '<property name="rect">' "$work/saved.mlt"; then
        echo "FAILED: $name: no rect in the saved file" >&2
        failed=1
    fi
done
if cmp -s "$work/saved.yuv" "$(melt_render "$work/plain.yuv" -profile "$work/profile" "$work/in.y4m"; echo "$work/plain.yuv")"; then
    echo "FAILED: the frei0r round trip rendered nothing" >&2
    failed=1
fi

# The reference: frame i of the command line's render with frame i's
# rectangle, the keyframes 40 30 200 150 at frame 0 and 340 230 300 250 at
# frame 5 met in between in whole pixels.
frame_bytes=$((w * h * 2))
: > "$work/expected.yuv"
for i in $(seq 0 $((frames - 1))); do
    "$norel" --quiet -y --cy --shift 23 --left $((40 + 60 * i)) --top $((30 + 40 * i)) \
        --width $((200 + 20 * i)) --height $((150 + 20 * i)) "$work/in.y4m" "$work/cli.y4m"
    python3 - "$work/cli.y4m" "$i" >> "$work/expected.yuv" <<'PY'
import sys
frames = open(sys.argv[1], 'rb').read().split(b'FRAME\n')[1:]
sys.stdout.buffer.write(frames[int(sys.argv[2])])
PY
done
[ "$(stat -c %s "$work/expected.yuv")" -eq $((frames * frame_bytes)) ]
# Both editors write keyframes at clock times; 00:00:00.167 is frame 5.
rect="00:00:00.000=40 30 200 150 1;00:00:00.167=340 230 300 250 1"

# Shotcut: the filter on the clip's chain, as its panel sets it.
cat > "$work/shotcut.mlt" <<PROJECT
<?xml version="1.0" standalone="no"?>
<mlt LC_NUMERIC="C" version="7.12.0" title="Shotcut version 22.12.21" producer="main_bin">
  $profile_xml
  <playlist id="main_bin"><property name="xml_retain">1</property></playlist>
  <chain id="chain0" out="$((frames - 1))">
    <property name="length">$frames</property>
    <property name="resource">$work/in.y4m</property>
    <property name="mlt_service">avformat-novalidate</property>
    <filter id="filter0">
      <property name="mlt_service">norel</property>
      <property name="shotcut:filter">norel</property>
      <property name="shift">23</property>
      <property name="cy">1</property>
      <property name="rect">$rect</property>
      <property name="tff">-1</property>
    </filter>
  </chain>
  <playlist id="playlist0">
    <property name="shotcut:video">1</property>
    <entry producer="chain0" in="0" out="$((frames - 1))"/>
  </playlist>
  <tractor id="tractor0" title="Shotcut version 22.12.21" in="0" out="$((frames - 1))">
    <property name="shotcut">1</property>
    <track producer="playlist0"/>
  </tractor>
</mlt>
PROJECT
melt_render "$work/shotcut.yuv" "$work/shotcut.mlt"
check "a Shotcut project renders its keyframed rectangle" "$work/shotcut.yuv" "$work/expected.yuv"

# Kdenlive: the filter on the timeline's entry, with Kdenlive's own names.
cat > "$work/kdenlive.mlt" <<PROJECT
<?xml version="1.0" encoding="utf-8"?>
<mlt LC_NUMERIC="C" producer="main_bin" version="7.12.0" root="$work">
  $profile_xml
  <producer id="producer0" in="00:00:00.000" out="00:00:00.167">
    <property name="length">$frames</property>
    <property name="resource">$work/in.y4m</property>
    <property name="mlt_service">avformat-novalidate</property>
    <property name="kdenlive:id">2</property>
  </producer>
  <playlist id="main_bin">
    <property name="kdenlive:docproperties.version">1.04</property>
    <entry producer="producer0" in="00:00:00.000" out="00:00:00.167"/>
  </playlist>
  <playlist id="playlist0">
    <entry producer="producer0" in="00:00:00.000" out="00:00:00.167">
      <property name="kdenlive:id">2</property>
      <filter id="filter0">
        <property name="mlt_service">norel</property>
        <property name="kdenlive_id">norel</property>
        <property name="rect">$rect</property>
        <property name="shift">23</property>
        <property name="cy">1</property>
        <property name="kdenlive:collapsed">0</property>
      </filter>
    </entry>
  </playlist>
  <tractor id="tractor0" in="00:00:00.000" out="00:00:00.167">
    <property name="kdenlive:trackheight">67</property>
    <track producer="playlist0"/>
  </tractor>
</mlt>
PROJECT
melt_render "$work/kdenlive.yuv" "$work/kdenlive.mlt"
check "a Kdenlive project renders its keyframed rectangle" "$work/kdenlive.yuv" "$work/expected.yuv"
exit $failed
