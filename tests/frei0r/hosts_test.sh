#!/usr/bin/env bash
# The frei0r plug-in in the real hosts: ffmpeg's frei0r filter, melt (MLT)
# and gst-launch-1.0 render the same RGBA frames through norel.so with
# several settings, and each render must equal, byte for byte, the
# conversion and effect chain applied directly (frei0r_direct, which also
# fails if anything outside the rectangle changed).
#
#   hosts_test.sh PLUGIN_DIR FREI0R_DIRECT
set -euo pipefail
plugin_dir=$1
direct=$2
export FREI0R_PATH=$plugin_dir MLT_FREI0R_PLUGIN_PATH=$plugin_dir
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A registry of its own, so that GStreamer scans this build's plug-in.
export GST_REGISTRY=$work/gstreamer-registry.bin
# ffmpeg hands frei0r plug-ins rows padded to its own alignment: a width of
# 16n pixels keeps them contiguous, as frei0r wants.
w=320 h=240 frames=8

ffmpeg -v error -y -f lavfi -i "testsrc2=size=${w}x${h}:rate=30000/1001" -frames:v "$frames" \
    -pix_fmt rgba -f rawvideo "$work/in.rgba"
mkdir "$work/png"
ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s "${w}x${h}" -i "$work/in.rgba" \
    -start_number 0 "$work/png/f%03d.png"
cat > "$work/profile" <<PROFILE
description=test
width=$w
height=$h
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=$w
display_aspect_den=$h
frame_rate_num=30000
frame_rate_den=1001
colorspace=601
PROFILE

# name; the parameters in frei0r's order (left rect_width top rect_height shift freq
# phase tff composite lpf mono show_range fps, then optionally decode
# chroma_bandwidth saturation hue standard delay_line and the deck's, vhs to
# generations), empty for the
# defaults; the same settings in the effects' own units.
cases=(
    "defaults;;"
    "composite_fractional_shift;0.004 0.02 0.0031 0.015 0.544921875 0.92 0.6 0 1 1 0 0 0.2997003;left=40 width=200 top=31 height=150 shift=23 freq=690 phase=36 tff=0 composite=1"
    "lpf_off_mono_whole_shift;0.01 0.1 0 1 0.4375 0.938667 0.5 1 0 0 1 0 0.2997003;left=100 width=1000 top=0 height=10000 shift=-32 lpf=0 mono=1"
    "show_range;0.005 0.01 0.002 0.01 0.5 0.938667 0.5 1 0 1 0 1 0.2997003;left=50 width=100 top=20 height=100 show_range=1"
    "decoded_notch;0 0.032 0 0.024 0.5 0.938667 0.5 1 1 1 0 0 0.2997003 notch wide 0.6 0.55;width=320 height=240 composite=1 decode=notch saturation=120 hue=18"
    "decoded_3line_narrow_mono;0.004 0.02 0.0031 0.015 0.544921875 0.92 0.6 0 1 1 1 0 0.2997003 3line narrow 0.5 0.5;left=40 width=200 top=31 height=150 shift=23 freq=690 phase=36 tff=0 composite=1 mono=1 decode=3line chroma_bandwidth=narrow"
    "vhs_sp_noise;0 0.032 0 0.024 0.5 0.938667 0.5 1 1 1 0 0 0.2997003 notch narrow 0.5 0.5 ntsc 1 sp 0.6984919311 0.75 0 0.425 0.3 0.4 1 0.1 0 0;width=320 height=240 composite=1 decode=notch chroma_bandwidth=narrow vhs=sp seed=3000000000 tape_noise=150 tracking=30 dropouts=2000 head_switching_shift=-1500"
    "decoded_pal_simple_2line_turned;0.004 0.02 0.0031 0.015 0.544921875 0.92 0.6 0 1 1 0 0 0.2997003 2line wide 0.6 0.625 pal 0;left=40 width=200 top=31 height=150 shift=23 freq=690 phase=36 tff=0 composite=1 decode=2line saturation=120 hue=45 standard=pal delay_line=0"
)
names=(left rect_width top rect_height shift freq phase tff composite lpf mono show_range fps
       decode chroma_bandwidth saturation hue standard delay_line vhs seed tape_noise head_switching
       head_switching_shift tracking dropouts dropout_compensator jitter chroma_delay generations)
bools=" tff composite lpf mono show_range delay_line dropout_compensator "

failed=0
check() {  # host case [expected]
    if cmp -s "$work/$1.rgba" "$work/${3:-expected}.rgba"; then
        echo "ok: $1 $2"
    else
        echo "FAILED: $1 $2 differs from the direct computation" >&2
        failed=1
    fi
}

# melt decodes the pictures itself: what it hands the filter is what it
# renders without one.
render_melt() {  # output [filter arguments...]
    local out=$1
    shift
    melt -silent -quiet -profile "$work/profile" "$work/png/f%03d.png" in=0 out=$((frames - 1)) \
        "$@" -consumer "avformat:$out" f=rawvideo vcodec=rawvideo pix_fmt=rgba real_time=0 \
        2>/dev/null
}
render_melt "$work/melt_in.rgba"

for entry in "${cases[@]}"; do
    IFS=';' read -r name values settings <<<"$entry"
    # shellcheck disable=SC2086
    "$direct" "$w" "$h" $settings <"$work/in.rgba" >"$work/expected.rgba"
    read -r -a v <<<"$values"

    # ffmpeg: parameters by position, bools as y/n; its clock counts
    # milliseconds, which clock_ms, after fps, tells the plug-in.
    ff=norel
    gst=() melt=()
    if [ ${#v[@]} -gt 0 ]; then
        ff_list=()
        for i in "${!v[@]}"; do
            n=${names[$i]}
            if [[ $bools == *" $n "* ]]; then
                ff_list+=("$([ "${v[$i]}" = 1 ] && echo y || echo n)")
                gst+=("${n//_/-}=$([ "${v[$i]}" = 1 ] && echo true || echo false)")
            else
                ff_list+=("${v[$i]}")
                gst+=("${n//_/-}=${v[$i]}")
            fi
            melt+=("$n=${v[$i]}")
            [ "$n" = fps ] && ff_list+=(y)
        done
        ff="norel:$(IFS='|'; echo "${ff_list[*]}")"
    fi
    ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s "${w}x${h}" -r 30000/1001 -i "$work/in.rgba" \
        -vf "frei0r=$ff" -f rawvideo -pix_fmt rgba "$work/ffmpeg.rgba"
    check ffmpeg "$name"

    gst-launch-1.0 -q filesrc location="$work/in.rgba" \
        ! rawvideoparse width=$w height=$h format=rgba framerate=30000/1001 \
        ! frei0r-filter-norel "${gst[@]}" ! filesink location="$work/gstreamer.rgba"
    check gstreamer "$name"

    "$direct" "$w" "$h" $settings <"$work/melt_in.rgba" >"$work/melt_expected.rgba"
    render_melt "$work/melt.rgba" -filter frei0r.norel "${melt[@]}"
    check melt "$name" melt_expected
done

# The frame number is the host's time times fps: rendered from frame 3 on
# (ffmpeg seeking in the pictures and keeping their times), frames 3 to 7
# are the whole render's, the carrier's and the deck's noise alike. (MLT's
# time for frei0r starts at a clip's cut: its native filter keeps the
# source's numbers.)
deck="norel:0|0.032|0|0.024|0.5|0.938667|0.5|y|y|y|n|n|0.2997003|y|notch|narrow|0.5|0.5|ntsc|y|ep|0.5|0.5|0|0.6|0|0.6|y|0.1|0|0"
for seek in "" "-copyts -ss 0.1"; do
    # shellcheck disable=SC2086
    ffmpeg -v error -y $seek -framerate 30000/1001 -start_number 0 -i "$work/png/f%03d.png" \
        -vf "frei0r=$deck" -pix_fmt rgba -f rawvideo "$work/ffmpeg_${seek:+part}.rgba"
done
tail -c $(((frames - 3) * w * h * 4)) "$work/ffmpeg_.rgba" > "$work/whole_3.rgba"
check ffmpeg_part "after a seek to frame 3" whole_3
exit $failed
