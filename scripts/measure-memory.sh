#!/bin/sh
# Peak memory (maximum resident set) of mistlock seal, open and open-log on
# one large message, with a classic and with a sealed key file, beside the
# size of what each command reads. Not part of the test suite: it takes a
# minute or two and wants about 2 GB of memory and 1 GB of disk.
#
#   scripts/measure-memory.sh [MISTLOCK [MEGABYTES]]
#
# MISTLOCK defaults to build/native/tools/cli/mistlock (build it first with
# cmake --build --preset native --target mistlock); the message is MEGABYTES
# (default 101) of UTF-8 text of Latin and Cyrillic words, the same every run.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
mistlock=${1:-$here/build/native/tools/cli/mistlock}
megabytes=${2:-101}
[ -x "$mistlock" ] || { echo "measure-memory: $mistlock is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "measure-memory: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

python3 - "$work/message.txt" "$megabytes" <<'EOF'
import random, sys
random.seed(1)
words = ['alpha', 'beta', 'gamma', 'delta', 'привет', 'x' * 7]
target = int(sys.argv[2]) * 10**6
out, n = [], 0
while n < target:
    w = random.choice(words)
    out.append(w)
    n += len(w.encode()) + 1
open(sys.argv[1], 'wb').write(' '.join(out).encode())
EOF
printf 'correct horse battery staple\n' > "$work/classic.key"
"$mistlock" keygen --sealed -o "$work/sealed.key" 2>/dev/null

size_mb() { echo "$(($(wc -c < "$1") / 1000000))"; }

# One command: its peak in MB, what it read, and the ratio.
measure() {
    label=$1 input=$2
    shift 2
    /usr/bin/time -f %M -o "$work/peak" "$@" > /dev/null 2> "$work/err" || [ $? -eq 3 ] || {
        echo "measure-memory: $label failed:" >&2
        cat "$work/err" >&2
        exit 1
    }
    peak=$(($(tail -n 1 "$work/peak") / 1000))
    in=$(size_mb "$input")
    printf '| %-30s | %6s MB | %6s MB | %5s |\n' "$label" "$in" "$peak" \
        "$(python3 -c "print(f'{$peak / max($in, 1):.2f}')")"
}

echo "| command                        |    input |     peak | ratio |"
echo "|--------------------------------|----------|----------|-------|"
for kind in classic sealed; do
    key=$work/$kind.key
    measure "$kind seal" "$work/message.txt" \
        sh -c '"$1" seal --key-file "$2" -o "$3" - < "$4"' sh "$mistlock" "$key" "$work/$kind.env" "$work/message.txt"
    # Through a pipe the size is not known beforehand: the input grows as it comes.
    measure "$kind seal, a pipe" "$work/message.txt" \
        sh -c 'cat "$4" | "$1" seal --key-file "$2" -o "$3" -' sh "$mistlock" "$key" "$work/$kind.env" "$work/message.txt"
    measure "$kind open" "$work/$kind.env" \
        sh -c '"$1" open --key-file "$2" -o "$3" - < "$4"' sh "$mistlock" "$key" "$work/$kind.out" "$work/$kind.env"
    measure "$kind open, a pipe" "$work/$kind.env" \
        sh -c 'cat "$4" | "$1" open --key-file "$2" -o "$3" -' sh "$mistlock" "$key" "$work/$kind.out" "$work/$kind.env"
    # open ends its text with a line break.
    { cat "$work/message.txt"; echo; } | cmp -s - "$work/$kind.out" || {
        echo "measure-memory: $kind open does not give the message back" >&2
        exit 1
    }
    measure "$kind open-log FILE" "$work/$kind.env" \
        "$mistlock" open-log --key-file "$key" -o "$work/$kind.log" "$work/$kind.env"
    { cat "$work/message.txt"; echo; } | cmp -s - "$work/$kind.log" || {
        echo "measure-memory: $kind open-log does not give the message back" >&2
        exit 1
    }
    measure "$kind open-log < FILE" "$work/$kind.env" \
        sh -c '"$1" open-log --key-file "$2" -o "$3" - < "$4"' sh "$mistlock" "$key" "$work/$kind.log" "$work/$kind.env"
    # A history of as many bytes in lines of a few kilobytes, each an envelope
    # of the message's first 1,000 characters: open-log holds about a line of it.
    python3 -c 'import sys; sys.stdout.write(open(sys.argv[1], encoding="utf-8").read(1000))' \
        "$work/message.txt" > "$work/line.txt"
    envelope=$("$mistlock" seal --key-file "$key" - < "$work/line.txt")
    python3 -c 'import sys
line = ("Bob (12:31): " + sys.argv[3] + "\n").encode()
open(sys.argv[1], "wb").write(line * (int(sys.argv[2]) * 10**6 // len(line) + 1))' "$work/$kind.history" "$megabytes" "$envelope"
    measure "$kind open-log, lines, pipe" "$work/$kind.history" \
        sh -c 'cat "$3" | "$1" open-log --key-file "$2" - > /dev/null' sh "$mistlock" "$key" "$work/$kind.history"
    measure "$kind open-log, lines, FILE" "$work/$kind.history" \
        "$mistlock" open-log --key-file "$key" "$work/$kind.history"
done
