// Writes golden.tsv: envelopes made without any of Mistlock's code, by
// OpenSSL's AES-256-ECB (Node's crypto) and ICU's code-page tables
// (TextDecoder), so that the C++ tests compare the product with a second,
// unrelated implementation. Run once by hand; the build never runs it:
//
//   node tests/data/envelope/make_golden.mjs > tests/data/envelope/golden.tsv
//
// Nothing here is random: running it again must give the same file.
import { createCipheriv, createDecipheriv } from 'node:crypto';
import assert from 'node:assert/strict';

const CODE_PAGES = [1251, 1252];

// What a byte reads as in a code page: ICU's tables through TextDecoder.
// Node 20's TextDecoder reads windows-1252 as ISO-8859-1, so that code page's
// row 0x80-0x9F is written out here (from glibc's CP1252); its five undefined
// byte values read as U+00xx, as Windows and Wine read them.
const cp1252Row80 = '\u20AC\x81\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\x8D\u017D\x8F' +
  '\x90\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\x9D\u017E\u0178';
const allBytes = Uint8Array.from(Array(256).keys());
const tables = {
  1251: new TextDecoder('windows-1251').decode(allBytes),
  1252: (() => {
    const icu = new TextDecoder('windows-1252').decode(allBytes);
    return icu.slice(0, 0x80) + cp1252Row80 + icu.slice(0xa0);
  })(),
};
for (const cp of CODE_PAGES) assert.equal(tables[cp].length, 256, 'one UTF-16 unit a byte');
function readAs(cp, bytes) {
  return bytes.map((b) => tables[cp][b]).join('');
}
const undefinedBytes = { 1251: [0x98], 1252: [0x81, 0x8d, 0x8f, 0x90, 0x9d] };
for (const cp of CODE_PAGES) {
  for (const b of undefinedBytes[cp]) assert.equal(readAs(cp, [b]).charCodeAt(0), b, `cp${cp} byte ${b}`);
}
// A few characters known by heart, so that a decoder that fell back to
// Latin-1 (a Node without ICU) cannot pass unseen.
assert.equal(readAs(1251, [0xc0, 0xff, 0x88, 0xb9, 0x80]), '\u0410\u044f\u20ac\u2116\u0402');
assert.equal(readAs(1252, [0xc0, 0xff, 0x80, 0x88, 0xa0]), '\u00c0\u00ff\u20ac\u02c6\u00a0');

// The bytes of a text in a code page: the decoder's table read backwards.
function bytesIn(cp, text) {
  return [...text].map((ch) => {
    const b = tables[cp].indexOf(ch);
    assert.ok(b >= 0, `${ch} is not in cp${cp}`);
    return b;
  });
}

// FIPS-197 C.3, so that a wrong cipher name or key size shows at once.
{
  const c = createCipheriv('aes-256-ecb', Buffer.from([...Array(32).keys()]), null).setAutoPadding(false);
  const out = Buffer.concat([c.update(Buffer.from('00112233445566778899aabbccddeeff', 'hex')), c.final()]);
  assert.equal(out.toString('hex'), '8ea2b7ca516745bfeafc49904b496089');
}

// 32 zero bytes with the first min(n, 32) bytes of the key text's UTF-16LE
// form copied in, n being its number of UTF-16 units (a JS string's length):
// bytes, not units, so a short key counts with half of itself.
function keyBlock(keyText) {
  const block = Buffer.alloc(32);
  Buffer.from(keyText, 'utf16le').copy(block, 0, 0, Math.min(keyText.length, 32));
  return block;
}

// The envelope as every earlier plug-in seals it: L is the message's length.
function envelope(message, keyText, cp) {
  const filled = Buffer.alloc(Math.ceil(message.length / 16) * 16);
  Buffer.from(message).copy(filled);
  const cipher = createCipheriv('aes-256-ecb', keyBlock(keyText), null).setAutoPadding(false);
  const length = Buffer.alloc(4);
  length.writeUInt32LE(message.length);
  const payload = Buffer.concat([length, cipher.update(filled), cipher.final()]);
  const text = readAs(cp, [...payload]);
  return { payload, envelope: '#MSTLK:' + Buffer.from(text, 'utf8').toString('hex').toUpperCase() };
}

// Checked sealing: a message of n >= 1 bytes gets the fewest zero bytes k
// that make (n + k) mod 16 one of 1 to 12, and is sealed as above, so that at
// least four bytes of zero fill follow it. The empty message stays empty.
function checkedMessage(message) {
  const zeros = [];
  while (message.length > 0 && [0, 13, 14, 15].includes((message.length + zeros.length) % 16)) zeros.push(0);
  return [...message, ...zeros];
}

// The payload an envelope carries, read back through the code page's table.
function payloadOf(envelopeText, cp) {
  assert.ok(envelopeText.startsWith('#MSTLK:'));
  const text = Buffer.from(envelopeText.slice(7), 'hex').toString('utf8');
  return bytesIn(cp, text);
}

function decipher(bytes, keyText) {
  const d = createDecipheriv('aes-256-ecb', keyBlock(keyText), null).setAutoPadding(false);
  return [...Buffer.concat([d.update(Buffer.from(bytes)), d.final()])];
}

function withoutTrailingZeros(bytes) {
  let n = bytes.length;
  while (n > 0 && bytes[n - 1] === 0) n -= 1;
  return bytes.slice(0, n);
}

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
  const d = createDecipheriv('aes-256-ecb', keyBlock(keyText), null).setAutoPadding(false);
  return [...Buffer.concat([d.update(Buffer.from([...Array(256).keys()])), d.final()])];
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

const hexOf = (bytes) => Buffer.from(bytes).toString('hex').toUpperCase();
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
