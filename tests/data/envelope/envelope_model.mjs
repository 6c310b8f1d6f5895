// The envelope worked out without any of Mistlock's code, for the scripts
// beside this file that write the test data: OpenSSL's AES-256-ECB (Node's
// crypto) and ICU's code-page tables (TextDecoder).
import { createCipheriv, createDecipheriv } from 'node:crypto';
import assert from 'node:assert/strict';

// The code pages an envelope may come from, in the order a receiver tries
// them after its own.
export const SENDER_CODE_PAGES = [1251, 1252, 1250, 1254, 1257, 1253, 866];

// What a byte reads as in a code page: ICU's tables through TextDecoder.
// Node 20's TextDecoder reads windows-1252 as ISO-8859-1, so that code page's
// row 0x80-0x9F is written out here (from glibc's CP1252); its five undefined
// byte values read as U+00xx, as Windows and Wine read them. The bytes that
// 1253 and 1257 leave undefined beyond 0x9F read as the private-use
// characters of Microsoft's best-fit tables (bestfit1253.txt, bestfit1257.txt).
// ICU's ibm866 is IBM's, which swaps the controls 0x1A, 0x1C and 0x7F;
// Windows' 866, like every code page here, is ASCII below 0x80.
const cp1252Row80 = '\u20AC\x81\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\x8D\u017D\x8F' +
  '\x90\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\x9D\u017E\u0178';
const bestFit = { 1253: { 0xaa: 0xf8f9, 0xd2: 0xf8fa, 0xff: 0xf8fb }, 1257: { 0xa1: 0xf8fc, 0xa5: 0xf8fd } };
const allBytes = Uint8Array.from(Array(256).keys());
function decoded(cp) {
  const icu = new TextDecoder(cp === 866 ? 'ibm866' : `windows-${cp}`).decode(allBytes);
  const units = [...icu];
  if (cp === 866) units.splice(0, 0x80, ...Array.from({ length: 0x80 }, (_, b) => String.fromCharCode(b)));
  if (cp === 1252) units.splice(0x80, 0x20, ...cp1252Row80);
  for (const [b, unit] of Object.entries(bestFit[cp] ?? {})) units[b] = String.fromCharCode(unit);
  return units.join('');
}
export const tables = Object.fromEntries(SENDER_CODE_PAGES.map((cp) => [cp, decoded(cp)]));
for (const cp of SENDER_CODE_PAGES) {
  assert.equal(tables[cp].length, 256, 'one UTF-16 unit a byte');
  assert.equal(new Set(tables[cp]).size, 256, `cp${cp}: every byte its own character`);
  assert.ok(!tables[cp].includes('\uFFFD'), `cp${cp}: no byte without a character`);
  for (let b = 0; b < 0x80; b += 1) assert.equal(tables[cp].charCodeAt(b), b, `cp${cp}: ASCII below 0x80`);
}
export function readAs(cp, bytes) {
  return bytes.map((b) => tables[cp][b]).join('');
}
const undefinedBytes = { 1251: [0x98], 1252: [0x81, 0x8d, 0x8f, 0x90, 0x9d] };
for (const cp of [1251, 1252]) {
  for (const b of undefinedBytes[cp]) assert.equal(readAs(cp, [b]).charCodeAt(0), b, `cp${cp} byte ${b}`);
}
// A few characters known by heart, so that a decoder that fell back to
// Latin-1 (a Node without ICU) cannot pass unseen.
assert.equal(readAs(1251, [0xc0, 0xff, 0x88, 0xb9, 0x80]), '\u0410\u044f\u20ac\u2116\u0402');
assert.equal(readAs(1252, [0xc0, 0xff, 0x80, 0x88, 0xa0]), '\u00c0\u00ff\u20ac\u02c6\u00a0');
assert.equal(readAs(1250, [0x8a, 0xa5, 0xf8]), '\u0160\u0104\u0159');
assert.equal(readAs(1254, [0xd0, 0xdd, 0xfe, 0x80]), '\u011e\u0130\u015f\u20ac');
assert.equal(readAs(1257, [0xc0, 0xeb, 0xa8]), '\u0104\u0117\u00d8');
assert.equal(readAs(1253, [0xc1, 0xf9, 0xa2]), '\u0391\u03c9\u0386');
assert.equal(readAs(866, [0x80, 0xaf, 0xe0, 0xf0]), '\u0410\u043f\u0440\u0401');

// The bytes of a text in a code page: the decoder's table read backwards.
export function bytesIn(cp, text) {
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
export function keyBlock(keyText) {
  const block = Buffer.alloc(32);
  Buffer.from(keyText, 'utf16le').copy(block, 0, 0, Math.min(keyText.length, 32));
  return block;
}

export function encipher(bytes, keyText) {
  const c = createCipheriv('aes-256-ecb', keyBlock(keyText), null).setAutoPadding(false);
  return [...Buffer.concat([c.update(Buffer.from(bytes)), c.final()])];
}

export function decipher(bytes, keyText) {
  const d = createDecipheriv('aes-256-ecb', keyBlock(keyText), null).setAutoPadding(false);
  return [...Buffer.concat([d.update(Buffer.from(bytes)), d.final()])];
}

// The envelope as every earlier plug-in seals it: L is the message's length.
export function envelope(message, keyText, cp) {
  const filled = Buffer.alloc(Math.ceil(message.length / 16) * 16);
  Buffer.from(message).copy(filled);
  const length = Buffer.alloc(4);
  length.writeUInt32LE(message.length);
  const payload = Buffer.concat([length, Buffer.from(encipher([...filled], keyText))]);
  const text = readAs(cp, [...payload]);
  return { payload, envelope: '#MSTLK:' + Buffer.from(text, 'utf8').toString('hex').toUpperCase() };
}

// Checked sealing: a message of n >= 1 bytes gets the fewest zero bytes k
// that make (n + k) mod 16 one of 1 to 12, and is sealed as above, so that at
// least four bytes of zero fill follow it. The empty message stays empty.
export function checkedMessage(message) {
  const zeros = [];
  while (message.length > 0 && [0, 13, 14, 15].includes((message.length + zeros.length) % 16)) zeros.push(0);
  return [...message, ...zeros];
}

// The envelope as Mistlock seals it now.
export function sealed(message, keyText, cp) {
  return envelope(checkedMessage(message), keyText, cp);
}

// The payload an envelope carries, read back through the code page's table.
export function payloadOf(envelopeText, cp) {
  assert.ok(envelopeText.startsWith('#MSTLK:'));
  const text = Buffer.from(envelopeText.slice(7), 'hex').toString('utf8');
  return bytesIn(cp, text);
}

export function withoutTrailingZeros(bytes) {
  let n = bytes.length;
  while (n > 0 && bytes[n - 1] === 0) n -= 1;
  return bytes.slice(0, n);
}

export const hexOf = (bytes) => Buffer.from(bytes).toString('hex').toUpperCase();
