#!/usr/bin/env bash
# The demonstration: two peers, each the plug-in in its own reference messenger with
# its own settings folder and the same password, exchange encrypted messages;
# a third peer with the wrong password sees what a user would then see. Then
# the two switch to a sealed key file made by 'mistlock keygen --sealed': the
# same message sealed twice gives two envelopes, and an envelope altered on
# the way is refused.
#
#   scripts/demo.sh           natively (Linux plug-in, headless)
#   scripts/demo.sh --wine    the real Mistlock.dll under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

mode=native
[[ "${1:-}" == "--wine" ]] && mode=windows

if [[ $mode == windows ]]; then
  scripts/install-deps.sh native windows
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target Mistlock mistlock-messenger mistlock >/dev/null
  # One virtual display and one Wine session for the whole demonstration.
  source scripts/virtual-display.sh
  scripts/wine-prefix.sh build/windows --start
  trap 'scripts/wine-prefix.sh build/windows --stop; [[ -n ${xvfb_pid:-} ]] && kill $xvfb_pid 2>/dev/null' EXIT
  messenger() { LC_ALL=ru_RU.UTF-8 build/windows/wine-run.sh build/windows/tools/messenger/mistlock-messenger.exe build/windows/host/Mistlock.dll | tr -d '\r'; }
  mistlock() { build/windows/wine-run.sh build/windows/tools/cli/mistlock.exe "$@" | tr -d '\r'; }
  hostpath() { printf 'Z:%s' "${1//\//\\}"; }
else
  scripts/install-deps.sh native
  cmake --preset native >/dev/null
  cmake --build --preset native --target Mistlock mistlock-messenger mistlock >/dev/null
  messenger() { build/native/tools/messenger/mistlock-messenger --codepage 1251 build/native/host/libMistlock.so; }
  mistlock() { build/native/tools/cli/mistlock "$@"; }
  hostpath() { printf '%s' "$1"; }
fi

demo=$(pwd)/build/demo
rm -rf "$demo"
mkdir -p "$demo/alice" "$demo/bob" "$demo/mallory"

# Settings files as the plug-in writes them (ANSI code page 1251, CR LF):
# switch on, password mode, the password; and the UIN list of each peer.
to1251() { iconv -f UTF-8 -t CP1251; }
settings() { printf 'on\r\npass_check\r\n%s\r\n\r\n' "$(printf '%s' "$1" | to1251)"; }
settings 'Сирень в четверг' > "$demo/alice/Mistlock.ini"
settings 'Сирень в четверг' > "$demo/bob/Mistlock.ini"
settings 'угадаю с трёх раз' > "$demo/mallory/Mistlock.ini"
printf '200\r\n' > "$demo/alice/MistlockWho.ini"   # Alice encrypts to Bob (UIN 200)
printf '100\r\n' > "$demo/bob/MistlockWho.ini"     # Bob encrypts to Alice (UIN 100)

field() { sed -n "s/.*\"$1\":\"\([^\"]*\)\".*/\1/p"; }
reply_of() { grep "\"event\":\"$1\"" | grep '"type":"reply"'; }

send() {  # folder uin text -> envelope
  printf 'init %s\nsend %s %s\nfinalise\n' "$1" "$2" "$3" | messenger | reply_of send | field text
}
receive() {  # folder envelope -> what the user reads
  printf 'init %s\nrecv %s\nfinalise\n' "$1" "$2" | messenger | reply_of recv | field text | sed 's/\\r\\n/\n    /g'
}

say() { printf '\n\033[1m%s\033[0m\n' "$*"; }

say "Alice writes to Bob (UIN 200), in Russian:"
text='Привет, Боб! Встречаемся завтра в 10:00 у фонтана.'
echo "    $text"
envelope=$(send "$demo/alice" 200 "$text")
say "What travels through the messenger:"
echo "    $envelope"
say "What Bob reads:"
echo "    $(receive "$demo/bob" "$envelope")"

say "Bob answers Alice (UIN 100), in English:"
text='Hi Alice, see you at the fountain. Bring the blue folder.'
echo "    $text"
envelope2=$(send "$demo/bob" 100 "$text")
say "What travels through the messenger:"
echo "    $envelope2"
say "What Alice reads:"
echo "    $(receive "$demo/alice" "$envelope2")"

say "Mallory intercepts Alice's envelope, but her password is wrong. She reads:"
echo "    $(receive "$demo/mallory" "$envelope")"

say "A message to a contact who is not on Alice's list goes out as written:"
printf 'init %s\nsend 300 Hello, stranger\nfinalise\n' "$demo/alice" | messenger | reply_of send | grep -q '"kind":null' \
  && echo "    (no reply from the plug-in: the messenger sends the text unchanged)"

say "Alice and Bob switch to sealed envelopes. Alice makes a sealed key file and hands it to Bob in person:"
mistlock keygen --sealed -o "$(hostpath "$demo/alice/friend.key")" 2>&1 | sed 's/^/    /'
cp "$demo/alice/friend.key" "$demo/bob/friend.key"
for peer in alice bob; do printf 'on\r\nfile_check\r\n\r\nfriend.key\r\n' > "$demo/$peer/Mistlock.ini"; done

say "Alice sends Bob the same message twice:"
text='Пароль от сейфа: 4711'
echo "    $text"
sealed1=$(send "$demo/alice" 200 "$text")
sealed2=$(send "$demo/alice" 200 "$text")
say "What travels through the messenger: two sealed envelopes, unlike each other:"
echo "    $sealed1"
echo "    $sealed2"
say "What Bob reads:"
echo "    $(receive "$demo/bob" "$sealed1")"
echo "    $(receive "$demo/bob" "$sealed2")"

# One character of the envelope changed, as Mallory would to alter the message.
at=$(( ${#sealed1} / 2 ))
original=${sealed1:$at:1}
replacement=A
[[ $original == A ]] && replacement=B
tampered="${sealed1:0:$at}$replacement${sealed1:$((at + 1))}"
say "Mallory changes one character of the first envelope (position $((at + 1)): $original to $replacement). Bob reads:"
echo "    $(receive "$demo/bob" "$tampered")"

echo
echo "Demonstration done ($mode). Settings folders: $demo"
