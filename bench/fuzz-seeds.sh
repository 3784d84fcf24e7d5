#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the fuzz target's seed corpus into the folder given: small files of each kind the reader
# meets, also joined streams whose channels or rate change part-way. The first byte of each seed
# picks the output rate and channels (see bench/fuzz_EAFRead.cpp).
set -eu
out=$1
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
gen() { # gen <name> <sine> <options...>
  name=$1 sine=$2
  shift 2
  ffmpeg -v error -nostdin -f lavfi -i "$sine" -t 0.1 "$@" "$tmp/$name"
}
seed() { # seed <mode byte, octal> <name> <files...>
  mode=$1 name=$2
  shift 2
  { printf "\\$mode"; cat "$@"; } >"$out/$name"
}
gen stereo.mp3 sine=f=440:r=44100 -ac 2 -b:a 32k
gen mono.mp3 sine=f=660:r=44100 -ac 1 -b:a 32k
gen slow.mp3 sine=f=660:r=22050 -ac 1 -b:a 32k
gen mono.aac sine=f=500:r=44100 -ac 1 -c:a aac -b:a 32k -f adts
gen stereo.aac sine=f=500:r=44100 -ac 2 -c:a aac -b:a 32k -f adts
gen stereo.m4a sine=f=500:r=48000 -ac 2 -c:a aac -b:a 32k
gen mono.flac sine=f=300:r=32000 -ac 1
gen mono.opus sine=f=300:r=48000 -ac 1 -b:a 16k
gen mono.wav sine=f=300:r=8000 -ac 1
sox -n -r 11025 -c 2 -b 16 "$tmp/stereo.aiff" synth 0.05 sine 440
seed 003 stereo.mp3 "$tmp/stereo.mp3"
seed 012 mono.mp3 "$tmp/mono.mp3"
seed 013 stereo-then-mono.mp3 "$tmp/stereo.mp3" "$tmp/mono.mp3"
seed 002 mono-then-stereo.mp3 "$tmp/mono.mp3" "$tmp/stereo.mp3"
seed 043 rate-change.mp3 "$tmp/stereo.mp3" "$tmp/slow.mp3"
seed 004 mono.aac "$tmp/mono.aac"
seed 014 stereo-then-mono.aac "$tmp/stereo.aac" "$tmp/mono.aac"
seed 103 stereo.m4a "$tmp/stereo.m4a"
seed 000 mono.flac "$tmp/mono.flac"
seed 005 mono.opus "$tmp/mono.opus"
seed 011 mono.wav "$tmp/mono.wav"
seed 006 stereo.aiff "$tmp/stereo.aiff"
# A WAVE header that claims 8,388,608 Hz, read at 22050 Hz.
cp "$tmp/mono.wav" "$tmp/absurd.wav"
printf '\000\000\200\000' | dd of="$tmp/absurd.wav" bs=1 seek=24 conv=notrunc status=none
seed 002 absurd-rate.wav "$tmp/absurd.wav"
