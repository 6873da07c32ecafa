#!/usr/bin/env bash
# Makes a few seconds of every format the program cuts, with Debian's ffmpeg as an
# independent encoder, from synthesized signals: the AC-3 streams of the README example and
# the tests, and one stream of each other format to try a first cut on.
#   bash samples/make_samples.sh          (writes into samples/)
set -euo pipefail
cd "$(dirname "$0")"

encode() { # out rate channels seconds codec options...
  local out=$1 rate=$2 pan=$3 seconds=$4
  shift 4
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "sine=frequency=440:sample_rate=$rate:duration=$seconds" \
    -f lavfi -i "sine=frequency=660:sample_rate=$rate:duration=$seconds" \
    -filter_complex "[0][1]amerge=inputs=2,pan=$pan" -fflags +bitexact "$@" "$out"
}

stereo='stereo|c0=c0|c1=c1'
encode sample_48k.ac3 48000 "$stereo" 8 -c:a ac3 -b:a 192k -f ac3
# At 44.1 kHz the encoder pads every so often: the stream mixes even and odd frame size codes.
encode sample_44k1.ac3 44100 "$stereo" 2 -c:a ac3 -b:a 192k -f ac3
encode sample_32k.ac3 32000 'mono|c0=c0' 2 -c:a ac3 -b:a 96k -f ac3
encode sample.eac3 48000 "$stereo" 3 -c:a eac3 -b:a 192k -f eac3
encode sample.mp2 48000 "$stereo" 3 -c:a mp2 -b:a 192k -f mp2
encode sample.aac 48000 "$stereo" 3 -c:a aac -b:a 128k -f adts
encode sample.dts 48000 "$stereo" 2 -strict -2 -c:a dca -b:a 768k -f dts
encode sample.wav 24000 "$stereo" 2 -c:a pcm_s16le -f wav
encode sample.flac 44100 "$stereo" 2 -c:a flac -f flac
