#!/usr/bin/env bash
# Makes the AC-3 streams used by the README example and the tests, with Debian's
# ffmpeg as an independent encoder, from synthesized signals.
#   bash samples/make_samples.sh          (writes into samples/)
set -euo pipefail
cd "$(dirname "$0")"

encode() { # out rate channels bitrate seconds
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "sine=frequency=440:sample_rate=$2:duration=$5" \
    -f lavfi -i "sine=frequency=660:sample_rate=$2:duration=$5" \
    -filter_complex "[0][1]amerge=inputs=2,pan=$3" \
    -c:a ac3 -b:a "$4" -f ac3 "$1"
}

encode sample_48k.ac3 48000 'stereo|c0=c0|c1=c1' 192k 8
# At 44.1 kHz the encoder pads every so often: the stream mixes even and odd frame size codes.
encode sample_44k1.ac3 44100 'stereo|c0=c0|c1=c1' 192k 2
encode sample_32k.ac3 32000 'mono|c0=c0' 96k 2
