// Writes vectors.tsv: sealed envelopes made without any of Mistlock's code,
// by Node's crypto (OpenSSL's HKDF and AES-256-GCM) and ICU's code-page
// tables, with fixed nonces, so that the C++ tests compare the product with a
// second, unrelated implementation of docs/sealed-envelope.md. Run once by
// hand; the build never runs it:
//
//   node tests/data/sealed/make_vectors.mjs > tests/data/sealed/vectors.tsv
//
// Nothing here is random: running it again must give the same file.
import { createCipheriv, createDecipheriv, createHash, hkdfSync } from 'node:crypto';
import assert from 'node:assert/strict';
import { tables } from '../envelope/envelope_model.mjs';

const CODE_PAGES = [1251, 1252];

const PREFIX = '#MSTLK2:';
const VERSION = 0x02;
const AAD = Buffer.concat([Buffer.from(PREFIX, 'ascii'), Buffer.from([VERSION])]);

// RFC 5869, test case 1, so that a wrong hash or argument order shows at once.
assert.equal(
  Buffer.from(hkdfSync('sha256', Buffer.from('0b'.repeat(22), 'hex'), Buffer.from('000102030405060708090a0b0c', 'hex'),
    Buffer.from('f0f1f2f3f4f5f6f7f8f9', 'hex'), 42)).toString('hex'),
  '3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865');
// NIST's GCM test case 16 (256-bit key), likewise for the cipher.
{
  const c = createCipheriv('aes-256-gcm', Buffer.from('feffe9928665731c6d6a8f9467308308'.repeat(2), 'hex'),
    Buffer.from('cafebabefacedbaddecaf888', 'hex'));
  c.setAAD(Buffer.from('feedfacedeadbeeffeedfacedeadbeefabaddad2', 'hex'));
  c.update(Buffer.from('d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39', 'hex'));
  c.final();
  assert.equal(c.getAuthTag().toString('hex'), '76fc6ece0f4e1768cddf8853bb2d551b');
}

// The sealed key: HKDF-SHA256 of the key file's whole first line as UTF-16LE.
function sealedKey(keyText) {
  return Buffer.from(hkdfSync('sha256', Buffer.from(keyText, 'utf16le'), Buffer.from('Mistlock sealed envelope', 'ascii'),
    Buffer.from('AES-256-GCM key', 'ascii'), 32));
}

// The message in UTF-8, then 0x80, then zeros up to the next multiple of 32.
function padded(utf8) {
  const size = Math.floor((utf8.length + 1 + 31) / 32) * 32;
  const out = Buffer.alloc(size);
  utf8.copy(out);
  out[utf8.length] = 0x80;
  return out;
}

// A base64url text without padding (RFC 4648 section 5).
const base64url = (bytes) => Buffer.from(bytes).toString('base64url');

function sealBytes(keyText, nonce, plain, version = VERSION) {
  const c = createCipheriv('aes-256-gcm', sealedKey(keyText), nonce);
  c.setAAD(AAD);
  const ciphertext = Buffer.concat([c.update(plain), c.final()]);
  return Buffer.concat([Buffer.from([version]), nonce, ciphertext, c.getAuthTag()]);
}
const seal = (keyText, nonce, plain, version) => PREFIX + base64url(sealBytes(keyText, nonce, plain, version));

// Opens an envelope as a reader of the format must, for the self-check below.
function open(keyText, envelope) {
  const body = envelope.slice(PREFIX.length);
  if (!envelope.startsWith(PREFIX) || !/^[A-Za-z0-9_-]*$/.test(body) || body.length % 4 === 1) return null;
  const bytes = Buffer.from(body, 'base64url');
  if (base64url(bytes) !== body) return null;  // unused bits must be zero
  if (bytes.length < 1 + 12 + 32 + 16 || bytes[0] !== VERSION || (bytes.length - 29) % 32 !== 0) return null;
  const d = createDecipheriv('aes-256-gcm', sealedKey(keyText), bytes.subarray(1, 13));
  d.setAAD(AAD);
  d.setAuthTag(bytes.subarray(bytes.length - 16));
  let plain;
  try {
    plain = Buffer.concat([d.update(bytes.subarray(13, bytes.length - 16)), d.final()]);
  } catch {
    return null;
  }
  let end = plain.length;
  while (end > 0 && plain[end - 1] === 0) --end;
  if (end === 0 || plain[end - 1] !== 0x80) return null;
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(plain.subarray(0, end - 1));
  } catch {
    return null;
  }
}

// Fixed nonces: the first 12 bytes of SHA-256 of the case's name.
const nonceOf = (name) => createHash('sha256').update(name).digest().subarray(0, 12);

const keygenLine = String.fromCharCode(...Array.from({ length: 32 }, (_, i) => 0x4e00 + i * 977 % 20000));
const sentence = 'Pack my box with five dozen liquor jugs.';
const opened = [
  ['empty message', 'correct horse battery staple', ''],
  ['Hi', 'correct horse battery staple', 'Hi'],
  ...[30, 31, 32, 33, 63, 64].map((n) => [`${n} ASCII bytes`, 'correct horse battery staple', sentence.repeat(2).slice(0, n)]),
  ['Cyrillic text', 'correct horse battery staple', 'Привет, мир! Ёжик в тумане.'],
  ['Western text', 'correct horse battery staple', 'Grüße aus Köln: 5 € – ¡olé!'],
  ['both pages', 'correct horse battery staple', 'Цена: 5 € — “ok”'],
  ['zero byte inside', 'correct horse battery staple', 'a\u0000b'],
  ['text ending in the byte 0x80', 'correct horse battery staple', 'мир'],
  ['909 bytes of Cyrillic UTF-8', 'correct horse battery staple', 'Съешь же ещё этих мягких французских булок. '.repeat(23).slice(0, 500)],
  ['key of one unit', 'k', 'Hi'],
  ['key of 40 units (every unit counts)', '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd', 'Hi'],
  ['key of 40 units, last differs', '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcX', 'Hi'],
  ['Cyrillic key', 'Ключ-42 очень длинный', 'Hi'],
  ['key as keygen writes it', keygenLine, 'Hi'],
];

const lines = [
  '# Sealed envelopes, made by make_vectors.mjs beside this file (see docs/sealed-envelope.md).',
  '# opens: name, key text as UTF-16LE hex, nonce, message as UTF-8 hex, message bytes on 1251 and on 1252',
  '#        (a character the code page lacks narrows to ?), envelope',
  '# refused: name, key text as UTF-16LE hex, envelope',
];
const hex = (b) => Buffer.from(b).toString('hex').toUpperCase();
for (const [name, keyText, message] of opened) {
  const nonce = nonceOf(name);
  const utf8 = Buffer.from(message, 'utf8');
  const envelope = seal(keyText, nonce, padded(utf8));
  assert.equal(open(keyText, envelope), message, name);
  // A character the code page lacks narrows to its default character, ?.
  const onPage = CODE_PAGES.map((cp) => hex([...message].map((ch) => (tables[cp].includes(ch) ? tables[cp].indexOf(ch) : 0x3f))));
  lines.push(['opens', name, hex(Buffer.from(keyText, 'utf16le')), hex(nonce), hex(utf8), ...onPage, envelope].join('\t'));
}

// Envelopes every reader must refuse, each next to what makes it wrong.
const key = 'correct horse battery staple';
const good = sealBytes(key, nonceOf('refused'), padded(Buffer.from('Meet at 8, gate 4', 'utf8')));
const flipped = (at) => {
  const b = Buffer.from(good);
  b[at < 0 ? b.length + at : at] ^= 0x01;
  return PREFIX + base64url(b);
};
const goodText = PREFIX + base64url(good);
const refused = [
  ['wrong key', 'correct horse battery stapler', goodText],
  ['version byte changed', key, flipped(0)],
  ['nonce changed', key, flipped(5)],
  ['ciphertext changed', key, flipped(20)],
  ['tag changed', key, flipped(-1)],
  ['cut by one character', key, goodText.slice(0, -1)],
  ['cut by a whole block', key, PREFIX + base64url(Buffer.concat([good.subarray(0, 13), good.subarray(45)]))],
  ['prefix alone', key, PREFIX],
  ['base64 padding', key, goodText + '='],
  ['standard base64 alphabet', key, PREFIX + Buffer.from(good).toString('base64').replace(/=+$/, '')],
  ['unused bits set', key, goodText.slice(0, -1) + String.fromCharCode(goodText.charCodeAt(goodText.length - 1) + 1)],
  ['a blank inside', key, goodText.slice(0, 20) + ' ' + goodText.slice(20)],
  ['version 3, authentic', key, seal(key, nonceOf('v3'), padded(Buffer.from('Hi')), 3)],
  ['no 0x80, authentic', key, seal(key, nonceOf('no mark'), Buffer.alloc(32))],
  ['16-byte plain text, authentic', key, seal(key, nonceOf('16'), Buffer.from('Hi\x80' + '\0'.repeat(13), 'latin1'))],
  ['invalid UTF-8, authentic', key, seal(key, nonceOf('utf8'), padded(Buffer.from([0x48, 0xc3, 0x28])))],
  ['surrogate in UTF-8, authentic', key, seal(key, nonceOf('surrogate'), padded(Buffer.from([0xed, 0xa0, 0x80])))],
];
// Only the authentic ones need a wrong-format proof: each must really carry a valid tag.
for (const [name, keyText, envelope] of refused) {
  assert.equal(open(keyText, envelope), null, name);
  lines.push(['refused', name, hex(Buffer.from(keyText, 'utf16le')), envelope].join('\t'));
}
process.stdout.write(lines.join('\n') + '\n');
