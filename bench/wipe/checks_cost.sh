#!/bin/sh
# What the checks before the first byte and after the last cost per file: the same
# files wiped by two builds of the command line, side by side, round after round.
#   checks_cost.sh CLI_WITHOUT CLI_WITH [FOLDER]
# FOLDER (default: a new one in the temporary folder) should be on the disk whose cost
# matters. Prints seconds per round for 1000 files of 4 KiB and for one of 256 MiB, at
# the least level, with the machine's load beside each round.
set -eu
old=$1 new=$2
base=${3:-$(mktemp -d)}
work=$base/checks-cost.$$
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

small() { # make 1000 files of 4 KiB
    i=0
    while [ $i -lt 1000 ]; do
        head -c 4096 /dev/urandom >"$work/f$i"
        i=$((i + 1))
    done
    sync
}
big() { head -c $((256 << 20)) /dev/zero | tr '\0' 'x' >"$work/big"; sync; }
seconds() { # CLI ARGS...: the seconds the run took
    cli=$1
    shift
    start=$(date +%s.%N)
    "$cli" wipe -l 1 --no-scramble --no-log -q "$@" >/dev/null
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }'
}
load() { cut -d' ' -f1 /proc/loadavg; }

for round in 1 2 3; do
    for which in old new; do
        eval cli=\$$which
        small
        s=$(seconds "$cli" "$work"/f*)
        big
        b=$(seconds "$cli" "$work/big")
        echo "round $round $which: 1000 x 4 KiB ${s} s ($(awk "BEGIN{printf \"%.2f\", $s}") ms/file), 256 MiB ${b} s, load $(load)"
    done
done
