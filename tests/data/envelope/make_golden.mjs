// Writes golden.tsv: envelopes made without any of Mistlock's code, by
// OpenSSL's AES-256-ECB (Node's crypto) and ICU's code-page tables
// (TextDecoder, envelope_model.mjs), so that the C++ tests compare the
// product with a second, unrelated implementation. Run once by hand; the
// build never runs it:
//
//   node tests/data/envelope/make_golden.mjs > tests/data/envelope/golden.tsv
//
// Nothing here is random: running it again must give the same file.
import assert from 'node:assert/strict';
import {
  bytesIn, checkedMessage, decipher, envelope, hexOf, payloadOf, withoutTrailingZeros,
} from './envelope_model.mjs';

const CODE_PAGES = [1251, 1252];

// What an earlier plug-in shows: the length prefix skipped unread, the rest
// deciphered, trailing zero bytes trimmed; null for the error line (no
// ciphertext, or not whole blocks).
function classicReading(envelopeText, keyText, cp) {
  const cipherBytes = payloadOf(envelopeText, cp).slice(4);
  if (cipherBytes.length === 0 || cipherBytes.length % 16 !== 0) return null;
  return withoutTrailingZeros(decipher(cipherBytes, keyText));
}

// What Mistlock shows: the same, once the ciphertext is as long as L says and
// its zero fill deciphers to zeros; null for the error line.
function checkedReading(envelopeText, keyText, cp) {
  const payload = payloadOf(envelopeText, cp);
  const declared = Buffer.from(payload.slice(0, 4)).readUInt32LE();
  const cipherBytes = payload.slice(4);
  if (cipherBytes.length === 0 || cipherBytes.length !== Math.ceil(declared / 16) * 16) return null;
  const plain = decipher(cipherBytes, keyText);
  if (plain.slice(declared).some((b) => b !== 0)) return null;
  return withoutTrailingZeros(plain);
}

// The message whose ciphertext is the bytes 00..FF, so that every character
// of both tables stands in an envelope: the bytes deciphered.
function decipherAll(keyText) {
  return decipher([...Array(256).keys()], keyText);
}

const ascii = (s) => [...Buffer.from(s, 'latin1')];
const pattern = (n) => Array.from({ length: n }, (_, i) => (i * 37 + 11) % 256);
const sentence = 'Pack my box with five dozen liquor jugs.';
const units40 = '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd';

// [name, key text, message bytes], each under both code pages
const cases = [
  ['worked example Hi', 'secret', ascii('Hi')],
  ['empty message', 'secret', []],
  ...[1, 12, 13, 14, 15, 16, 17, 28, 31, 32, 33].map((n) => [`${n}-byte message`, 'secret', ascii(sentence.slice(0, n))]),
  ['48-byte message', 'secret', pattern(48)],
  ['ends in zero bytes', 'secret', [...ascii('Hi there'), 0, 0, 0, 0, 0, 0]],
  ['every byte value', 'secret', [...Array(256).keys()]],
  ['ciphertext of every byte value', 'secret', decipherAll('secret')],
  ['Cyrillic text', 'secret', bytesIn(1251, 'Привет, мир! Ёжик в тумане.')],
  ['Latin-1 text', 'secret', bytesIn(1252, 'Grüße aus Köln: 5 € – ¡olé!')],
  // The length prefix's first byte is each undefined byte value in turn.
  ...[0x81, 0x8d, 0x8f, 0x90, 0x98, 0x9d].map((n) => [`length 0x${n.toString(16)}`, 'secret', pattern(n)]),
  ['key of 0 units', '', ascii('Hi')],
  ['key of 1 unit', 'k', ascii('Hi')],
  ['key of 3 units', 'abc', ascii('Hi')],
  ...[15, 16, 17, 31, 32, 33, 40].map((n) => [`key of ${n} units`, units40.slice(0, n), ascii('Hi')]),
  ['key Ключ-42', 'Ключ-42', ascii('Hi')],
  ['key Grüße', 'Grüße', ascii('Hi')],
  ['key with a surrogate pair', 'ключ\u{1F511}', ascii('Hi')],
  ['key of 17 Cyrillic units', 'Съешь же ещё этих', ascii('Hi')],
];

const readingText = (bytes) => (bytes === null ? 'error line' : hexOf(bytes));

const lines = [
  '# Golden envelopes, made by make_golden.mjs beside this file (see README.md).',
  '# name, code page, key text as UTF-16LE hex, message bytes as hex, the envelope Mistlock seals, its length',
  '# prefix, the envelope an earlier plug-in seals, and what each receiver shows of either envelope (hex):',
  '# an earlier plug-in, then Mistlock',
];
const seen = Object.fromEntries(CODE_PAGES.map((cp) => [cp, new Set()]));
for (const [name, keyText, message] of cases) {
  for (const cp of CODE_PAGES) {
    const checked = checkedMessage(message);
    const sealed = envelope(checked, keyText, cp);
    const classic = envelope(message, keyText, cp);
    sealed.payload.forEach((b) => seen[cp].add(b));
    classic.payload.forEach((b) => seen[cp].add(b));
    // Both receivers show the same text of both envelopes: the message less
    // its trailing zero bytes.
    const shown = message.length === 0 ? null : withoutTrailingZeros(message);
    const readings = [classicReading, checkedReading].map((read) => readingText(read(sealed.envelope, keyText, cp)));
    for (const envelopeText of [sealed.envelope, classic.envelope]) {
      assert.equal(readingText(classicReading(envelopeText, keyText, cp)), readingText(shown), name);
      assert.equal(readingText(checkedReading(envelopeText, keyText, cp)), readingText(shown), name);
    }
    // At least four bytes of zero fill, and at most one block more.
    const declared = checked.length;
    if (declared > 0) assert.ok(16 * Math.ceil(declared / 16) - declared >= 4, name);
    assert.ok(sealed.payload.length - classic.payload.length <= 16, name);
    const keyHex = Buffer.from(keyText, 'utf16le').toString('hex').toUpperCase();
    lines.push([name, cp, keyHex, hexOf(message), sealed.envelope, declared, classic.envelope, ...readings].join('\t'));
  }
}
// Every byte value stands in some payload of each code page.
for (const cp of CODE_PAGES) assert.equal(seen[cp].size, 256, `cp${cp} payloads miss byte values`);
process.stdout.write(lines.join('\n') + '\n');
