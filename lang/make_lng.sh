#!/bin/sh
# Makes each language file from its UTF-8 source beside it (X.lng from
# X.lng.txt): UTF-16LE with a byte-order mark and CR LF line ends, which the
# plug-in reads as Unicode whatever the system's code page.
set -eu
cd "$(dirname "$0")"
for source in */Mistlock.lng.txt template.lng.txt; do
  target=${source%.txt}
  { printf '\377\376'; sed 's/$/\r/' "$source" | iconv -f UTF-8 -t UTF-16LE; } > "$target.tmp"
  mv "$target.tmp" "$target"
done
