#!/usr/bin/env bash
# Measures morvane on a 1-hour 48 kHz 5.1 448 kbit/s AC-3 stream (about 200 MB) against dd, the
# one-write-per-frame floor (frame_copier.cpp) and, where installed, ffmpeg's stream copy; and
# on an E-AC-3 stream of the same length, layout and rate against ffmpeg's stream copy; and
# on hours of MPEG-1 Layer II at 256 and 384 kbit/s, of AAC at 128 kbit/s and of DTS 5.1 at
# 1509 kbit/s (plain, and as DTS-HD), in bytes a second against the AC-3 cut. AAC also runs on
# three hours, about the AC-3 hour's bytes, and is copied by dd too: a run costs some
# milliseconds whatever its length, which weigh more a byte in the shorter AAC hour. An hour
# of 5.1 24-bit PCM in WAV (3.1 GB) is cut whole against dd, and to its last 10 s against dd
# copying those 10 s with skip. An hour of 16-bit stereo FLAC at 44.1 kHz (made with flac
# where it is installed) is cut whole, by an edit list, and to its last 10 s, and so is an hour
# of 128 kbit/s MP3 with a LAME tag (made with lame where it is installed), and three hours of it,
# about the AC-3 hour's bytes. BENCH_ONLY=PATTERN runs only the cases whose names match.
# Every case runs twice: on the disk's file system, where users keep their files, and on tmpfs.
#   bash bench/run_bench.sh [runs, default 7] [scratch directory on disk, default
#                           build-bench/scratch] [scratch directory on tmpfs, default
#                           /dev/shm/morvane-bench]
# Needs ffmpeg to encode the piece the stream is made of. Prints tables of medians, minima,
# maxima and ratios, and the write calls of whole cuts where strace is installed; the numbers
# in docs/performance.md come from it.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
runs=${1:-7}
scratch=${2:-$repo/build-bench/scratch}
tmpfs=${3:-/dev/shm/morvane-bench}
mkdir -p "$scratch" "$tmpfs"

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench -j 2 >/dev/null
c++ -O2 -o build-bench/frame_copier bench/frame_copier.cpp
morvane=$repo/build-bench/morvane
copier=$repo/build-bench/frame_copier

cd "$scratch"
if [ ! -s in.ac3 ]; then
    # A minute of six different tones, encoded once and repeated: 60 minutes.
    ffmpeg -hide_banner -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t)|0.3*sin(2*PI*440*t)|0.3*sin(2*PI*110*t)|0.3*sin(2*PI*550*t)|0.3*sin(2*PI*660*t):channel_layout=5.1:sample_rate=48000:duration=60" \
        -c:a ac3 -b:a 448k -f ac3 piece.ac3
    for _ in $(seq 60); do cat piece.ac3; done >in.ac3
fi
# MPEG-1 Layer II stereo at 48 kHz, an hour of it, at DVB's 256 and DVD's 384 kbit/s.
for rate in 256 384; do
    if [ ! -s "in$rate.mp2" ]; then
        ffmpeg -hide_banner -loglevel error -y -f lavfi \
            -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t):channel_layout=stereo:sample_rate=48000:duration=60" \
            -c:a mp2 -b:a "${rate}k" -f mp2 "piece$rate.mp2"
        for _ in $(seq 60); do cat "piece$rate.mp2"; done >"in$rate.mp2"
    fi
done
# AAC LC in ADTS, stereo at 48 kHz and 128 kbit/s, as HD television and IPTV carry it.
if [ ! -s in.aac ]; then
    ffmpeg -hide_banner -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t):channel_layout=stereo:sample_rate=48000:duration=60" \
        -c:a aac -b:a 128k -f adts piece.aac
    for _ in $(seq 60); do cat piece.aac; done >in.aac
fi
# Three hours of it: about as many bytes as the AC-3 hour, so that what a run costs whatever
# its length weighs alike in both.
[ -s in3.aac ] || cat in.aac in.aac in.aac >in3.aac
# DTS 5.1 at 48 kHz and 1509 kbit/s, as on DVD and Blu-ray (about 680 MB); and the same with
# a 50-byte DTS-HD extension substream frame (a valid header, one asset decoders skip) after
# every core frame of 2012 bytes, for --core.
if [ ! -s in.dts ]; then
    ffmpeg -hide_banner -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t)|0.3*sin(2*PI*440*t)|0.3*sin(2*PI*110*t)|0.3*sin(2*PI*550*t)|0.3*sin(2*PI*660*t):channel_layout=5.1:sample_rate=48000:duration=60" \
        -c:a dca -strict -2 -b:a 1509k -f dts piece.dts
    for _ in $(seq 60); do cat piece.dts; done >in.dts
fi
if [ ! -s in.dtshd ]; then
    { printf '\x64\x58\x20\x25\x00\x02\x20\x06\x20\x01\xf0\x20\x30\x07\xc0\x00\xf2\x15'
        head -c 32 /dev/zero; } >extension.bin
    rm -rf frames && mkdir frames && split -b 2012 -d -a 5 piece.dts frames/
    for frame in frames/*; do cat "$frame" extension.bin; done >piece.dtshd
    for _ in $(seq 60); do cat piece.dtshd; done >in.dtshd
    rm -rf frames
fi
if [ ! -s in.eac3 ]; then
    ffmpeg -hide_banner -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t)|0.3*sin(2*PI*440*t)|0.3*sin(2*PI*110*t)|0.3*sin(2*PI*550*t)|0.3*sin(2*PI*660*t):channel_layout=5.1:sample_rate=48000:duration=60" \
        -c:a eac3 -b:a 448k -f eac3 piece.eac3
    for _ in $(seq 60); do cat piece.eac3; done >in.eac3
fi
# An hour of 5.1 24-bit PCM at 48 kHz in a WAV file (3.1 GB), as a decoded film track is.
if [ ! -s in.wav ]; then
    ffmpeg -hide_banner -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t)|0.3*sin(2*PI*440*t)|0.3*sin(2*PI*110*t)|0.3*sin(2*PI*550*t)|0.3*sin(2*PI*660*t):channel_layout=5.1:sample_rate=48000:duration=60" \
        -c:a pcm_s24le -f s24le piece.pcm
    for _ in $(seq 60); do cat piece.pcm; done |
        ffmpeg -hide_banner -loglevel error -y -f s24le -ar 48000 -ac 6 -i - -c copy in.wav
    rm -f piece.pcm
fi
# An hour of 16-bit stereo FLAC at 44.1 kHz: tones and a little noise, as music compresses.
if [ ! -s in.flac ] && command -v flac >/dev/null; then
    ffmpeg -hide_banner -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)+0.02*(random(0)-0.5)|0.3*sin(2*PI*330*t)+0.02*(random(1)-0.5):sample_rate=44100:duration=60" \
        -c:a pcm_s16le -f s16le piece.s16
    for _ in $(seq 60); do cat piece.s16; done |
        flac -s -5 --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 \
            --sample-rate=44100 -o in.flac -
    rm -f piece.s16
fi
# An hour of 128 kbit/s stereo MP3 at 44.1 kHz, with LAME's Info frame, from the same tones.
if [ ! -s in.mp3 ] && command -v lame >/dev/null; then
    ffmpeg -hide_banner -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs=0.3*sin(2*PI*220*t)+0.02*(random(0)-0.5)|0.3*sin(2*PI*330*t)+0.02*(random(1)-0.5):sample_rate=44100:duration=3600" \
        -c:a pcm_s16le -f s16le - |
        lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -b 128 - in.mp3
fi
# Three hours of it, about the AC-3 hour's bytes: the hour's frames three times after its Info
# frame (417 bytes at 128 kbit/s and 44.1 kHz), whose frame count (at byte 44) is made three
# times the hour's. LAME's first frame takes no main data from before it, so the joins are whole.
if [ -s in.mp3 ] && [ ! -s in3.mp3 ]; then
    frames=$(od -An -tu1 -j 44 -N 4 in.mp3 | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }')
    { head -c 417 in.mp3; for _ in 1 2 3; do tail -c +418 in.mp3; done; } >in3.mp3
    printf "$(printf '%08x' $((frames * 3)) | sed 's/../\\x&/g')" |
        dd of=in3.mp3 bs=1 seek=44 conv=notrunc status=none
fi
wav_data=$(($(stat -c %s in.wav) - 3600 * 48000 * 18))
size=$(stat -c %s in.ac3)
frames=$((size / 1792))
seconds=$(awk -v f="$frames" 'BEGIN { printf "%.3f", f * 0.032 }')
last10=$(awk -v s="$seconds" 'BEGIN { printf "%.3f", s - 10 }')
have_ffmpeg=$(command -v ffmpeg >/dev/null && echo 1 || echo 0)
for file in piece.ac3 in.ac3 in.eac3 in256.mp2 in384.mp2 in.aac in3.aac in.dts in.dtshd in.wav in.flac in.mp3 in3.mp3; do
    [ -e "$file" ] || continue
    cmp -s "$file" "$tmpfs/$file" || cp "$file" "$tmpfs/"; done
echo "stream: $size bytes, $frames frames, $seconds s (E-AC-3: $(stat -c %s in.eac3) bytes); $runs runs each, interleaved"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr)"

# name|command; every command runs in the scratch directory with standard output discarded.
cases=(
    "dd bs=1M, whole file|dd if=in.ac3 of=out.dd bs=1M status=none"
    "floor: one write per frame, whole file|$copier in.ac3 out.copier"
    "(a) morvane, whole stream|$morvane in.ac3 0 1e9"
    "(a) morvane --delay 1, whole stream|$morvane --delay 1 in.ac3 0 1e9"
    "(a) morvane --check, whole stream|$morvane --check in.ac3 0 1e9"
    "(a) morvane --split timestamps:, 3 parts|$morvane --split timestamps:1200,2400 in.ac3"
    "(a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in.ac3"
    "(c) morvane --check, last 10 s|$morvane --check in.ac3 $last10 1e9"
    "(b) morvane, 10 min in the middle|$morvane in.ac3 1500 2100"
    "(c) morvane, last 10 s|$morvane in.ac3 $last10 1e9"
    "(a) morvane in a pty, whole stream|script -qec '$morvane in.ac3 0 1e9' /dev/null"
    "(a) same inside script, redirected|script -qec '$morvane in.ac3 0 1e9 >/dev/null' /dev/null"
    "E-AC-3 (a) morvane, whole stream|$morvane in.eac3 0 1e9"
    "E-AC-3 (b) morvane, 10 min in the middle|$morvane in.eac3 1500 2100"
    "E-AC-3 (c) morvane, last 10 s|$morvane in.eac3 $last10 1e9"
    "Layer II 256k (a) morvane, whole stream|$morvane in256.mp2 0 1e9"
    "Layer II 256k (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in256.mp2"
    "Layer II 384k (a) morvane, whole stream|$morvane in384.mp2 0 1e9"
    "Layer II 384k (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in384.mp2"
    "AAC 128k (a) morvane, whole stream|$morvane in.aac 0 1e9"
    "AAC 128k (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in.aac"
    "AAC 128k dd bs=1M, whole file|dd if=in.aac of=out.dd bs=1M status=none"
    "AAC 128k 3 h (a) morvane, whole stream|$morvane in3.aac 0 1e9"
    "AAC 128k 3 h (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in3.aac"
    "AAC 128k 3 h dd bs=1M, whole file|dd if=in3.aac of=out.dd bs=1M status=none"
    "DTS 1509k (a) morvane, whole stream|$morvane in.dts 0 1e9"
    "DTS 1509k (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in.dts"
    "DTS-HD (a) morvane --core, whole stream|$morvane --core in.dtshd 0 1e9"
    "PCM 5.1 24-bit dd bs=1M, whole file|dd if=in.wav of=out.dd bs=1M status=none"
    "PCM 5.1 24-bit (a) morvane, whole file|$morvane in.wav 0 1e9"
    "PCM 5.1 24-bit (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in.wav"
    "PCM 5.1 24-bit dd skip, last 10 s|dd if=in.wav of=out.dd bs=1M iflag=skip_bytes skip=$((wav_data + 3590 * 48000 * 18)) status=none"
    "PCM 5.1 24-bit (c) morvane, last 10 s|$morvane in.wav 3590 1e9"
)
if [ -s in.flac ]; then
    cases+=(
        "FLAC 16-bit (a) morvane, whole file|$morvane in.flac 0 1e9"
        "FLAC 16-bit (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in.flac"
        "FLAC 16-bit dd bs=1M, whole file|dd if=in.flac of=out.dd bs=1M status=none"
        "FLAC 16-bit (c) morvane, last 10 s|$morvane in.flac 3590 1e9"
    )
fi
if [ -s in.mp3 ]; then
    cases+=(
        "MP3 128k (a) morvane, whole file|$morvane in.mp3 0 1e9"
        "MP3 128k (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in.mp3"
        "MP3 128k dd bs=1M, whole file|dd if=in.mp3 of=out.dd bs=1M status=none"
        "MP3 128k (c) morvane, last 10 s|$morvane in.mp3 3590 1e9"
        "MP3 128k 3 h (a) morvane, whole file|$morvane in3.mp3 0 1e9"
        "MP3 128k 3 h (a) morvane --edit, 3 edits|$morvane --edit 600,+2 --edit 1800,-30 --edit 3000,+1.5 in3.mp3"
        "MP3 128k 3 h dd bs=1M, whole file|dd if=in3.mp3 of=out.dd bs=1M status=none"
    )
fi
if [ "$have_ffmpeg" = 1 ]; then
    ff="ffmpeg -nostdin -hide_banner -loglevel error -y"
    cases+=(
        "(a) ffmpeg -c copy, whole stream|$ff -f ac3 -i in.ac3 -c copy -f ac3 out.ff"
        "(b) ffmpeg -c copy, 10 min in the middle|$ff -ss 1500 -f ac3 -i in.ac3 -t 600 -c copy -f ac3 out.ff"
        "(c) ffmpeg -c copy, last 10 s|$ff -ss $last10 -f ac3 -i in.ac3 -c copy -f ac3 out.ff"
        "E-AC-3 (a) ffmpeg -c copy, whole stream|$ff -f eac3 -i in.eac3 -c copy -f eac3 out.ff"
        "E-AC-3 (b) ffmpeg -c copy, 10 min in the middle|$ff -ss 1500 -f eac3 -i in.eac3 -t 600 -c copy -f eac3 out.ff"
        "E-AC-3 (c) ffmpeg -c copy, last 10 s|$ff -ss $last10 -f eac3 -i in.eac3 -c copy -f eac3 out.ff"
    )
fi

# BENCH_ONLY=PATTERN keeps the cases whose name matches it (and dd's whole AC-3 file, the
# first, which the ratios are to).
if [ -n "${BENCH_ONLY:-}" ]; then
    kept=("${cases[0]}")
    for c in "${cases[@]:1}"; do [[ ${c%%|*} =~ $BENCH_ONLY ]] && kept+=("$c"); done
    cases=("${kept[@]}")
fi

# Runs every case `runs` times, interleaved, in the current directory, and prints the table.
run_cases() {
    : >times.txt
    for ((run = 1; run <= runs; run++)); do
        for i in "${!cases[@]}"; do
            command=${cases[$i]#*|}
            # The output of the run before goes first: freeing gigabytes is not this run's work.
            rm -f out.dd out.copier out.ff morvane_in*
            start=$(date +%s%N)
            /usr/bin/time -f %M -o mem.txt bash -c "$command" >/dev/null 2>&1
            end=$(date +%s%N)
            echo "$i $(((end - start) / 1000)) $(tail -n 1 mem.txt)" >>times.txt
        done
    done

    # Median, min, max in ms, the ratio of the median to dd's, and the peak resident memory.
    printf '\n%-48s %9s %9s %9s %8s %10s %9s\n' "run in $1" "median ms" "min ms" "max ms" "x dd" "peak KiB" "MB/s"
    local dd_median=
    for i in "${!cases[@]}"; do
        read -r median min max mem < <(awk -v i="$i" '$1 == i { print $2, $3 }' times.txt |
            sort -n | awk '{ t[NR] = $1; if ($2 > m) m = $2 }
                END { printf "%.1f %.1f %.1f %d\n", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) / 1000, t[1] / 1000, t[NR] / 1000, m }')
        [ -z "$dd_median" ] && dd_median=$median
        ratio=$(awk -v a="$median" -v b="$dd_median" 'BEGIN { printf "%.2f", a / b }')
        # Bytes a second, of the stream the command reads.
        input=$(grep -o -E 'in[0-9]*\.(ac3|eac3|mp2|aac|dtshd|dts|wav|flac|mp3)' <<<"${cases[$i]#*|}" | head -n 1)
        rate=$(awk -v b="$(stat -c %s "${input:-in.ac3}")" -v t="$median" 'BEGIN { printf "%.0f", b / t / 1000 }')
        printf '%-48s %9s %9s %9s %8s %10s %9s\n' "${cases[$i]%%|*}" "$median" "$min" "$max" "$ratio" "$mem" "$rate"
    done
    echo "(the pty rows' peak memory is that of script, not of morvane)"
    for input in in.ac3 in.eac3; do
        "$morvane" "$input" 0 1e9 >/dev/null  # the timed runs end with shorter cuts of it
        cmp -s "$input" "morvane_$input" && echo "the whole-stream cut of $input is identical to it" ||
            echo "THE WHOLE-STREAM CUT OF $input DIFFERS FROM IT"
    done
}

run_cases "$scratch ($(stat -f -c %T "$scratch"))"
(cd "$tmpfs" && run_cases "$tmpfs ($(stat -f -c %T "$tmpfs"))")

if command -v strace >/dev/null; then
    echo
    echo "write calls of a whole cut, by strace -c (on disk):"
    for command in "$morvane in.ac3 0 1e9" \
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f ac3 -i in.ac3 -c copy -f ac3 out.ff"; do
        calls=$(strace -f -c -e trace=write -o strace.txt $command >/dev/null 2>&1 &&
            awk '$NF == "write" { print $(NF - 1) }' strace.txt)
        printf '  %-8s %s\n' "${command%% *}" "${calls:-?}" | sed "s|$repo/build-bench/||"
    done
fi

# Scale: streams of 1 and 10 hours written into a FIFO as they are read, cut to their last
# 10 s, so that the whole stream is walked; nothing is stored.
echo
printf '%-44s %9s %10s\n' "FIFO, last 10 s" "ms" "peak KiB"
rm -f fifo.ac3 && mkfifo fifo.ac3
piece_seconds=$(awk -v s="$(stat -c %s piece.ac3)" 'BEGIN { printf "%.3f", s / 1792 * 0.032 }')
for hours in 1 10 1 10; do
    pieces=$((hours * 60))
    from=$(awk -v p="$pieces" -v s="$piece_seconds" 'BEGIN { printf "%.3f", p * s - 10 }')
    (for _ in $(seq "$pieces"); do cat piece.ac3; done >fifo.ac3) &
    start=$(date +%s%N)
    /usr/bin/time -f %M -o mem.txt "$morvane" fifo.ac3 "$from" 1e9 >/dev/null
    end=$(date +%s%N)
    wait
    printf '%-44s %9s %10s\n' "$hours h ($((pieces * $(stat -c %s piece.ac3) / 1000000)) MB)" \
        "$(((end - start) / 1000000))" "$(tail -n 1 mem.txt)"
done
