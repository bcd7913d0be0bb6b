#!/usr/bin/env bash
# The native filters against the command line: on interlaced clips the
# command line writes, melt with the MLT filter and gst-launch-1.0 with the
# GStreamer element must give the command line's bytes, setting for
# setting, in each host's own YUV. The decoder is compared with yuv_direct,
# which first gives the command line's bytes where both apply.
#
#   same_bytes_test.sh NOREL MLT_MODULE MLT_YML GST_PLUGIN_DIR YUV_DIRECT
set -euo pipefail
norel=$1
mlt_module=$2
mlt_yml=$3
gst_plugin_dir=$4
direct=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/mlt_environment.sh"
use_build_module "$work" "$mlt_module" "$mlt_yml"
export GST_PLUGIN_PATH=$gst_plugin_dir GST_REGISTRY=$work/gstreamer-registry.bin

w=720 h=480 frames=6
cat > "$work/profile" <<PROFILE
description=test
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

# The frames of a YUV4MPEG2 file, headers dropped.
y4m_frames() {  # file output
    python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
frames = data.split(b'FRAME\n')[1:]
open(sys.argv[2], 'wb').write(b''.join(f for f in frames))
PY
}

# melt now and then hangs once it has written and closed its output (its
# main loop misses the consumer's end, with or without this filter): a run
# is stopped after 30 seconds, and what it wrote is compared as usual.
melt_render() {
    local rc=0
    timeout 30 melt "$@" 2>/dev/null || rc=$?
    [ $rc -eq 0 ] || [ $rc -eq 124 ] || { echo "melt failed ($rc): $*" >&2; return 1; }
}

failed=0
check() {  # what result expected
    if cmp -s "$2" "$3"; then
        echo "ok: $1"
    else
        echo "FAILED: $1: $(cmp "$2" "$3" 2>&1 | head -1)" >&2
        failed=1
    fi
}

# A clip per pixel format and field order, as the command line writes it.
clip() {  # pix_fmt order(t|b)
    local name=$work/in_$1_$2
    if [ ! -e "$name.y4m" ]; then
        "$norel" --synthesize --frames "$frames" --size "${w}x${h}" --pix-fmt "$1" --quiet -y "$name.y4m"
        # The same frames, declared bottom field first.
        [ "$2" = b ] && sed -i '1s/ It / Ib /' "$name.y4m"
        y4m_frames "$name.y4m" "$name.yuv"
    fi
    echo "$name"
}

cli() {  # input output options...
    local input=$1 output=$2
    shift 2
    "$norel" --quiet -y "$@" "$input.y4m" "$output.y4m"
    y4m_frames "$output.y4m" "$output.yuv"
}

# name; the command line's options (- for none: yuv_direct's result is the
# reference); the MLT properties; the element's properties; yuv_direct's.
settings=(
    "defaults;;;;"
    "cy_shift23;--cy --shift 23;cy=1 shift=23;cy=true shift=23;cy=1 shift=23"
    "rectangle_mono_no_lpf;--left 101 --width 300 --top 33 --height 201 --mono --no-lpf --shift -40;left=101 width=300 top=33 height=201 mono=1 lpf=0 shift=-40;left=101 width=300 top=33 height=201 mono=true lpf=false shift=-40;"
    "cy_notch;-;cy=1 shift=23 decode=notch;cy=true shift=23 decode=notch;cy=1 shift=23 decode=notch"
    "vhs_sp_noise;--cy --vhs sp --seed 3000000000 --tape-noise 150 --tracking 30 --dropouts 2000 --head-switching-shift -1.5;cy=1 vhs=sp seed=3000000000 tape_noise=150 tracking=30 dropouts=2000 head_switching_shift=-1500;cy=true vhs=sp seed=3000000000 tape-noise=150 tracking=30 dropouts=2000 head-switching-shift=-1500;"
    "pal_3line_narrow;-;cy=1 standard=pal decode=3line chroma_bandwidth=narrow saturation=150 hue=20 left=51 width=400;cy=true standard=pal decode=3line chroma-bandwidth=narrow saturation=150 hue=20 left=51 width=400;cy=1 standard=pal decode=3line chroma_bandwidth=narrow saturation=150 hue=20 left=51 width=400"
)

for order in t b; do
    in=$(clip yuv422p $order)
    tff=$([ $order = t ] && echo 1 || echo 0)
    gst_tff=$([ $order = t ] && echo true || echo false)
    # The reference itself: the command line's bytes.
    cli "$in" "$work/cli" --cy --shift 23
    "$direct" "$in.yuv" "$work/direct.yuv" $w $h 8 $tff cy=1 shift=23
    check "yuv_direct $order cy_shift23 is the command line" "$work/direct.yuv" "$work/cli.yuv"
    for entry in "${settings[@]}"; do
        IFS=';' read -r name cli_options mlt_options gst_options direct_options <<<"$entry"
        if [ "$cli_options" = - ]; then
            # shellcheck disable=SC2086
            "$direct" "$in.yuv" "$work/cli.yuv" $w $h 8 $tff $direct_options
        else
            # shellcheck disable=SC2086
            cli "$in" "$work/cli" $cli_options
        fi
        # shellcheck disable=SC2086
        melt_render -silent -profile "$work/profile" "$in.y4m" -filter norel $mlt_options \
            -consumer "avformat:$work/mlt.yuv" f=rawvideo pix_fmt=yuv422p top_field_first=$tff real_time=-1
        check "melt yuv422 $order $name" "$work/mlt.yuv" "$work/cli.yuv"
        for format in Y42B YUY2 UYVY; do
            # shellcheck disable=SC2086
            gst-launch-1.0 -q filesrc location="$in.yuv" ! \
                rawvideoparse format=y42b width=$w height=$h framerate=30000/1001 interlaced=true \
                top-field-first=$gst_tff ! videoconvert ! video/x-raw,format=$format ! norel $gst_options ! \
                videoconvert ! video/x-raw,format=Y42B ! filesink location="$work/gst.yuv"
            check "gst-launch $format $order $name" "$work/gst.yuv" "$work/cli.yuv"
        done
    done
done

# The frame comb: every host decodes 3d as yuv_direct does frame after
# frame, and melt rendering from frame 3 on (its history then lacks frames
# 1 and 2, which it asks of the producer) gives the whole clip's frames 3 on.
in=$(clip yuv422p t)
frame_bytes=$((w * h * 2))
for standard in ntsc pal; do
    "$direct" "$in.yuv" "$work/direct.yuv" $w $h 8 1 cy=1 standard=$standard decode=3d
    cli "$in" "$work/cli" --cy --standard $standard --decode 3d
    check "command line $standard 3d" "$work/cli.yuv" "$work/direct.yuv"
    gst-launch-1.0 -q filesrc location="$in.yuv" ! \
        rawvideoparse format=y42b width=$w height=$h framerate=30000/1001 interlaced=true top-field-first=true ! \
        norel cy=true standard=$standard decode=3d ! filesink location="$work/gst.yuv"
    check "gst-launch Y42B $standard 3d" "$work/gst.yuv" "$work/direct.yuv"
    melt_render -silent -profile "$work/profile" "$in.y4m" -filter norel cy=1 standard=$standard decode=3d \
        -consumer "avformat:$work/mlt.yuv" f=rawvideo pix_fmt=yuv422p top_field_first=1 real_time=-1
    check "melt $standard 3d" "$work/mlt.yuv" "$work/direct.yuv"
    tail -c $((3 * frame_bytes)) "$work/direct.yuv" > "$work/direct_3.yuv"
    melt_render -silent -profile "$work/profile" "$in.y4m" in=3 -filter norel cy=1 standard=$standard decode=3d \
        -consumer "avformat:$work/mlt.yuv" f=rawvideo pix_fmt=yuv422p top_field_first=1 real_time=-1
    check "melt $standard 3d from position 3" "$work/mlt.yuv" "$work/direct_3.yuv"
done

# The other subsamplings and 10 bits, where the element takes them.
for entry in "yuv420p;i420" "yuv444p;y444" "yuv422p10le;i422-10le" "yuv420p10le;i420-10le"; do
    IFS=';' read -r pix_fmt gst_format <<<"$entry"
    in=$(clip "$pix_fmt" t)
    cli "$in" "$work/cli" --cy --shift 23
    gst-launch-1.0 -q filesrc location="$in.yuv" ! \
        rawvideoparse format=$gst_format width=$w height=$h framerate=30000/1001 interlaced=true \
        top-field-first=true ! norel cy=true shift=23 ! filesink location="$work/gst.yuv"
    check "gst-launch $gst_format cy_shift23" "$work/gst.yuv" "$work/cli.yuv"
done
# Interlaced 4:2:0 by field, bottom field first too.
in=$(clip yuv420p b)
cli "$in" "$work/cli" --no-lpf --shift 16
gst-launch-1.0 -q filesrc location="$in.yuv" ! \
    rawvideoparse format=i420 width=$w height=$h framerate=30000/1001 interlaced=true top-field-first=false ! \
    norel lpf=false shift=16 ! filesink location="$work/gst.yuv"
check "gst-launch i420 b no_lpf_shift16" "$work/gst.yuv" "$work/cli.yuv"
in=$(clip yuv422p10le t)
"$direct" "$in.yuv" "$work/direct.yuv" $w $h 10 1 cy=1 shift=23 decode=notch
gst-launch-1.0 -q filesrc location="$in.yuv" ! \
    rawvideoparse format=i422-10le width=$w height=$h framerate=30000/1001 interlaced=true top-field-first=true ! \
    norel cy=true shift=23 decode=notch ! filesink location="$work/gst.yuv"
check "gst-launch i422-10le cy_notch" "$work/gst.yuv" "$work/direct.yuv"

# The frame number is the frame's position: rendered from frame 3 on, melt
# gives the command line's frames 3 to 5, the carrier's and the deck's noise.
in=$(clip yuv422p t)
for entry in "cy_shift23;--cy --shift 23;cy=1 shift=23" \
             "vhs_ep_noise;--cy --vhs ep --seed 11 --dropouts 3000;cy=1 vhs=ep seed=11 dropouts=3000"; do
    IFS=';' read -r name cli_options mlt_options <<<"$entry"
    # shellcheck disable=SC2086
    cli "$in" "$work/cli" $cli_options
    tail -c $((3 * frame_bytes)) "$work/cli.yuv" > "$work/cli_3.yuv"
    # shellcheck disable=SC2086
    melt_render -silent -profile "$work/profile" "$in.y4m" in=3 -filter norel $mlt_options \
        -consumer "avformat:$work/mlt.yuv" f=rawvideo pix_fmt=yuv422p top_field_first=1 real_time=-1
    check "melt from position 3 $name" "$work/mlt.yuv" "$work/cli_3.yuv"
done

exit $failed
