#!/usr/bin/env bash
# Shotcut and the MLT filter: under Xvfb, Shotcut must list norel among its
# filters (its log says "added filter") from the installed meta.qml and
# ui.qml; the panel, loaded by qmlscene with stand-ins for Shotcut's
# controls, must set every property of the metadata to its default for a
# new filter and offer each in its presets; and a project as Shotcut saves
# it, with the filter on a clip of the timeline as its panel sets it, must
# render with melt to the command line's bytes.
#
#   shotcut_test.sh NOREL MLT_MODULE MLT_YML SHOTCUT_FILTER_DIR
set -euo pipefail
norel=$1
mlt_module=$2
mlt_yml=$3
shotcut_filter=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/mlt_environment.sh"
use_build_module "$work" "$mlt_module" "$mlt_yml"

w=720 h=480 frames=6
"$norel" --synthesize --frames $frames --size ${w}x$h --pix-fmt yuv422p --quiet -y "$work/in.y4m"
"$norel" --cy --shift 23 --quiet -y "$work/in.y4m" "$work/cli.y4m"
python3 - "$work/cli.y4m" "$work/cli.yuv" <<'PY'
import sys
frames = open(sys.argv[1], 'rb').read().split(b'FRAME\n')[1:]
open(sys.argv[2], 'wb').write(b''.join(frames))
PY

# The project: a clip on video track 1 over Shotcut's black background, the
# filter with every property as a new one in Shotcut's panel, C/Y and a shift.
cat > "$work/project.mlt" <<PROJECT
<?xml version="1.0" standalone="no"?>
<mlt LC_NUMERIC="C" version="7.12.0" title="Shotcut version 22.12.21" producer="main_bin">
  <profile description="NTSC 720x480 interlaced" width="$w" height="$h" progressive="0" sample_aspect_num="1" sample_aspect_den="1" display_aspect_num="3" display_aspect_den="2" frame_rate_num="30000" frame_rate_den="1001" colorspace="601"/>
  <playlist id="main_bin">
    <property name="xml_retain">1</property>
  </playlist>
  <producer id="black" in="0" out="$((frames - 1))">
    <property name="length">$frames</property>
    <property name="eof">pause</property>
    <property name="resource">0</property>
    <property name="aspect_ratio">1</property>
    <property name="mlt_service">color</property>
    <property name="mlt_image_format">rgba</property>
    <property name="set.test_audio">0</property>
  </producer>
  <playlist id="background">
    <entry producer="black" in="0" out="$((frames - 1))"/>
  </playlist>
  <chain id="chain0" out="$((frames - 1))">
    <property name="length">$frames</property>
    <property name="eof">pause</property>
    <property name="resource">$work/in.y4m</property>
    <property name="mlt_service">avformat-novalidate</property>
    <property name="shotcut:caption">in.y4m</property>
    <filter id="filter0">
      <property name="mlt_service">norel</property>
      <property name="shotcut:filter">norel</property>
      <property name="rect">0%/0%:100%x100%</property>
      <property name="shift">23</property>
      <property name="freq">704</property>
      <property name="phase">0</property>
      <property name="saturation">100</property>
      <property name="hue">0</property>
      <property name="cy">1</property>
      <property name="lpf">1</property>
      <property name="mono">0</property>
      <property name="show_range">0</property>
      <property name="tff">-1</property>
      <property name="decode">off</property>
      <property name="chroma_bandwidth">wide</property>
    </filter>
  </chain>
  <playlist id="playlist0">
    <property name="shotcut:video">1</property>
    <property name="shotcut:name">V1</property>
    <entry producer="chain0" in="0" out="$((frames - 1))"/>
  </playlist>
  <tractor id="tractor0" title="Shotcut version 22.12.21" in="0" out="$((frames - 1))">
    <property name="shotcut">1</property>
    <track producer="background"/>
    <track producer="playlist0"/>
    <transition id="transition0">
      <property name="a_track">0</property>
      <property name="b_track">1</property>
      <property name="mlt_service">mix</property>
      <property name="always_active">1</property>
      <property name="sum">1</property>
    </transition>
    <transition id="transition1">
      <property name="a_track">0</property>
      <property name="b_track">1</property>
      <property name="version">0.1</property>
      <property name="mlt_service">frei0r.cairoblend</property>
      <property name="threads">0</property>
      <property name="disable">1</property>
    </transition>
  </tractor>
</mlt>
PROJECT

# melt now and then hangs once it has written and closed its output (its
# main loop misses the consumer's end, with or without this filter): a run
# is stopped after 30 seconds, and what it wrote is compared as usual.
melt_render() {
    local rc=0
    timeout 30 melt "$@" 2>/dev/null || rc=$?
    [ $rc -eq 0 ] || [ $rc -eq 124 ] || { echo "melt failed ($rc): $*" >&2; return 1; }
}

failed=0
sed "s|@UI_QML@|file://$shotcut_filter/ui.qml|" "$(dirname "$0")/shotcut_ui/panel.qml" > "$work/panel.qml"
QT_QUICK_BACKEND=software QT_QPA_PLATFORM=offscreen timeout 60 \
    qmlscene -I "$(dirname "$0")/shotcut_ui" "$work/panel.qml" > "$work/panel.txt" 2>&1 || true
if python3 - "$mlt_yml" "$work/panel.txt" <<'PY'
import json, re, sys
yml = open(sys.argv[1]).read()
defaults = {m.group(1): m.group(2).strip('"') for m in re.finditer(
    r'- identifier: (\w+)\n(?:    .*\n)*?    default: (\S+)', yml)}
panel = open(sys.argv[2]).read()
m = re.search(r'PANEL (\{.*\})', panel)
if not m:
    sys.exit('the panel did not load:\n' + panel)
store = json.loads(m.group(1))
presets = store.pop('(preset)', '').split()
problems = [f'{name}: {store.get(name)!r}, the metadata says {value}' for name, value in defaults.items()
            if str(store.get(name)) != value]
problems += [f'{name} not in the presets' for name in defaults if name not in presets]
problems += [f'{name} unknown to the metadata' for name in store if name not in defaults]
if len(defaults) < 15 or problems:
    sys.exit('\n'.join(problems) or 'metadata unread')
PY
then
    echo "ok: Shotcut's panel sets every property to its default and offers it in its presets"
else
    echo "FAILED: Shotcut's panel" >&2
    failed=1
fi

melt_render -silent "$work/project.mlt" -consumer "avformat:$work/melt.yuv" f=rawvideo pix_fmt=yuv422p \
    top_field_first=1 real_time=-1
if cmp -s "$work/melt.yuv" "$work/cli.yuv"; then
    echo "ok: the Shotcut project renders with melt to the command line's bytes"
else
    echo "FAILED: the Shotcut project rendered with melt differs from the command line" >&2
    failed=1
fi

# Shotcut reads filters from share/shotcut/qml/filters beside its program:
# a copy of the program in a prefix of its own, with the system's files and
# this build's filter.
prefix=$work/prefix
mkdir -p "$prefix/bin" "$prefix/share/shotcut/qml/filters" "$work/home"
cp "$(command -v shotcut)" "$prefix/bin/"
for entry in /usr/share/shotcut/*; do
    [ "$(basename "$entry")" = qml ] || ln -s "$entry" "$prefix/share/shotcut/"
done
for entry in /usr/share/shotcut/qml/*; do
    [ "$(basename "$entry")" = filters ] || ln -s "$entry" "$prefix/share/shotcut/qml/"
done
for entry in /usr/share/shotcut/qml/filters/*; do
    [ "$(basename "$entry")" = norel ] || ln -s "$entry" "$prefix/share/shotcut/qml/filters/"
done
ln -s "$shotcut_filter" "$prefix/share/shotcut/qml/filters/norel"
log=$work/home/.local/share/Meltytech/Shotcut/shotcut-log.txt
export HOME=$work/home QT_QPA_PLATFORM=xcb
# Shotcut runs until stopped: it is stopped once the log shows the filter
# list read, or after a minute.
timeout 90 xvfb-run -a sh -c '
    "$0" "$1" >/dev/null 2>&1 &
    pid=$!
    for i in $(seq 60); do
        grep -q "added link" "$2" 2>/dev/null && break
        sleep 1
    done
    kill $pid
    wait $pid 2>/dev/null' "$prefix/bin/shotcut" "$work/project.mlt" "$log" || true
if grep -q 'added filter "norel: Analogue Composite"' "$log" 2>/dev/null; then
    echo "ok: Shotcut lists the filter"
else
    echo "FAILED: Shotcut's log does not show the filter added" >&2
    grep -i norel "$log" >&2 || true
    failed=1
fi
exit $failed
