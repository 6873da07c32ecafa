#!/usr/bin/env bash
# Makes the conformance corpus: one short AC-3 stream for every bit rate (32 to 640 kbit/s)
# at every sample rate (48, 44.1 and 32 kHz), the channel layouts taking turns among mono,
# stereo and 5.1; and a dozen E-AC-3 streams at the same sample rates, from low bit rates to
# rates high enough that the encoder puts 3, 2 or 1 audio blocks in a frame. The encoder is
# Debian's ffmpeg (its native AC-3 and E-AC-3 encoders), fed synthesized tones with a little
# noise.
#   bash tests/corpus/make_corpus.sh [ac3|eac3|mp2|aac|dts]   (writes into tests/corpus/; all by default)
set -euo pipefail
cd "$(dirname "$0")"

layouts=(mono stereo 5.1)
rates=(48000 44100 32000)
kbits=(32 40 48 56 64 80 96 112 128 160 192 224 256 320 384 448 512 576 640)

# One sine per channel at its own pitch, with a touch of noise so that every band has bits.
channels() { # layout
    case "$1" in
        mono) echo 1 ;;
        stereo) echo 2 ;;
        5.1) echo 6 ;;
    esac
}
signal() { # layout
    local exprs=() n
    n=$(channels "$1")
    for ((c = 0; c < n; c++)); do
        exprs+=("0.3*sin(2*PI*$((220 + 110 * c))*t)+0.02*(random($c)-0.5)")
    done
    local IFS='|'
    echo "${exprs[*]}"
}

make_ac3() {
for r in "${!rates[@]}"; do
    rate=${rates[$r]}
    for k in "${!kbits[@]}"; do
        seconds=0.6
        if [ "$rate" = 44100 ]; then
            # Enough frames for the encoder's mix of padded and unpadded frames to show.
            seconds=1
            # The long-stream clock test repeats this one's first 294 frames (10.24 s), two
            # whole cycles of the padding pattern at 32 kbit/s: 97 of every 147 frames padded.
            [ "${kbits[$k]}" = 32 ] && seconds=10.5
        fi
        layout=${layouts[$(((k + r) % 3))]}
        # Below 64 kbit/s six channels do not fit (the encoder's bit allocation fails).
        [ "${kbits[$k]}" -lt 64 ] && [ "$layout" = 5.1 ] && layout=stereo
        name=$(printf '%s_%03dk_%s.ac3' "$rate" "${kbits[$k]}" "${layout/./_}")
        ffmpeg -hide_banner -loglevel error -y \
            -f lavfi -i "aevalsrc=exprs=$(signal "$layout"):channel_layout=$layout:sample_rate=$rate:duration=$seconds" \
            -c:a ac3 -b:a "${kbits[$k]}k" -f ac3 "$name"
    done
done
}

make_eac3() { # rate kbit/s layout seconds
    local name
    name=$(printf '%s_%04dk_%s.eac3' "$1" "$2" "${3/./_}")
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "aevalsrc=exprs=$(signal "$3"):channel_layout=$3:sample_rate=$1:duration=$4" \
        -c:a eac3 -b:a "$2k" -f eac3 "$name"
}

# MPEG-1 and MPEG-2 (lower sample rates) Layer II by ffmpeg's encoder, which writes stereo
# and no CRCs; and by twolame, which writes joint stereo and, with --protect, CRCs.
make_mp2() { # rate kbit/s layout seconds
    local name
    name=$(printf '%s_%03dk_%s.mp2' "$1" "$2" "$3")
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "aevalsrc=exprs=$(signal "$3"):channel_layout=$3:sample_rate=$1:duration=$4" \
        -c:a mp2 -b:a "$2k" -f mp2 "$name"
}
make_twolame() { # rate kbit/s mode (j joint, s stereo, m mono) seconds
    local name layout=stereo n=2
    [ "$3" = j ] && layout=joint
    [ "$3" = m ] && layout=mono && n=1
    name=$(printf '%s_%03dk_%s_crc.mp2' "$1" "$2" "$layout")
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "aevalsrc=exprs=$(signal stereo):channel_layout=stereo:sample_rate=$1:duration=$4" \
        -f s16le -ac "$n" - | twolame --quiet -r -s "$1" -N "$n" --mode "$3" --protect -b "$2" - "$name"
}

# AAC LC in ADTS by ffmpeg's encoder, as `ffmpeg -c copy` writes an .aac file.
make_aac() { # rate kbit/s layout seconds
    local name
    name=$(printf '%s_%03dk_%s.aac' "$1" "$2" "${3/./_}")
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "aevalsrc=exprs=$(signal "$3"):channel_layout=$3:sample_rate=$1:duration=$4" \
        -c:a aac -b:a "$2k" -f adts "$name"
}

# DTS core frames by ffmpeg's encoder (still experimental, hence -strict -2).
make_dts() { # rate kbit/s layout seconds
    local name
    name=$(printf '%s_%04dk_%s.dts' "$1" "$2" "${3/./_}")
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i "aevalsrc=exprs=$(signal "$3"):channel_layout=$3:sample_rate=$1:duration=$4" \
        -c:a dca -strict -2 -b:a "$2k" -f dts "$name"
}

what=${1:-all}
if [ "$what" = all ] || [ "$what" = ac3 ]; then make_ac3; fi
if [ "$what" = all ] || [ "$what" = eac3 ]; then
    make_eac3 48000 64 mono 0.6
    make_eac3 48000 192 stereo 0.6
    make_eac3 48000 640 5.1 0.6
    # From about 2 Mbit/s the encoder shortens its frames to 3, 2 and then 1 block.
    make_eac3 48000 2048 stereo 0.3
    make_eac3 48000 3072 stereo 0.2
    make_eac3 48000 4096 mono 0.1
    make_eac3 44100 48 mono 1
    make_eac3 44100 96 stereo 1
    make_eac3 44100 384 5.1 1
    make_eac3 32000 64 mono 0.6
    make_eac3 32000 160 stereo 0.6
    make_eac3 32000 448 5.1 0.6
fi
if [ "$what" = all ] || [ "$what" = mp2 ]; then
    make_mp2 48000 64 mono 0.6
    make_mp2 48000 384 stereo 0.6
    make_mp2 44100 128 stereo 1
    make_mp2 32000 192 stereo 0.6
    make_mp2 24000 96 stereo 0.6
    make_mp2 22050 64 mono 1
    make_twolame 48000 256 j 0.6
    make_twolame 44100 160 j 1
    make_twolame 32000 96 m 0.6
    make_twolame 22050 48 s 1
fi
if [ "$what" = all ] || [ "$what" = dts ]; then
    make_dts 48000 768 stereo 0.6
    make_dts 48000 1509 5.1 0.6
    make_dts 44100 1411 stereo 0.6
    make_dts 44100 768 5.1 0.6
fi
if [ "$what" = all ] || [ "$what" = aac ]; then
    make_aac 48000 64 mono 0.6
    make_aac 48000 128 stereo 0.6
    make_aac 48000 320 5.1 0.6
    make_aac 44100 96 stereo 1
    make_aac 44100 256 5.1 1
    make_aac 32000 64 mono 0.6
    make_aac 32000 160 stereo 0.6
    make_aac 24000 64 stereo 1
fi
