// Writes long_messages.tsv: envelopes of messages longer than a mebibyte,
// which mistlock reads, converts and writes a piece at a time, worked out
// without any of Mistlock's code (Node's crypto, ICU's code pages through
// ../envelope/envelope_model.mjs). Too long to keep, each is given by its
// length and SHA-256. Run once by hand; the build never runs it:
//
//   node tests/data/cli/make_long_messages.mjs > tests/data/cli/long_messages.tsv
//
// The message of a row: words drawn by the generator below from the row's
// seed, each followed by a blank, cut to the row's number of characters, with
// CR LF at characters 1048575 and 1048576 (where a mebibyte of a single-byte
// code page ends), and a C1 control the code page holds, which a terminal
// must be shown escaped, where a mebibyte of UTF-8 ends inside its form: the
// character whose form begins at byte 1048575 becomes the control; should no
// form begin there, the one before becomes "x" first.
// tests/cli/long_message_test.cpp draws the same text.
import { createCipheriv, createHash, hkdfSync } from 'node:crypto';
import { bytesIn, sealed } from '../envelope/envelope_model.mjs';

export const WORDS = {
  1251: ['alpha', 'привет', 'Gamma', 'мир', 'x'],
  1252: ['alpha', 'Grüße', 'façade', 'Ñu', 'x'],
};
const CLASSIC_PASSWORD = 'long message key';
const SEALED_KEY_TEXT = 'long-message sealed key 0123456789';
const NONCE = Buffer.from('000102030405060708090a0b', 'hex');
// The bytes each code page leaves unassigned, which read as C1 controls.
export const C1 = { 1251: '\u0098', 1252: '\u0081' };

function message(cp, seed, length) {
  let state = seed >>> 0;
  let text = '';
  while (text.length < length) {
    state = (Math.imul(state, 1103515245) + 12345) >>> 0;
    text += WORDS[cp][(state >>> 16) % WORDS[cp].length] + ' ';
  }
  const chars = [...text.slice(0, length)];
  chars[1048575] = '\r';
  chars[1048576] = '\n';
  let at = 0;
  let bytes = 0;
  while (bytes < 1048575) bytes += Buffer.byteLength(chars[at++]);
  if (bytes > 1048575) chars[at - 1] = 'x';
  chars[at] = C1[cp];
  return chars.join('');
}

function sealedEnvelope(utf8) {
  const key = Buffer.from(hkdfSync('sha256', Buffer.from(SEALED_KEY_TEXT, 'utf16le'),
    Buffer.from('Mistlock sealed envelope', 'ascii'), Buffer.from('AES-256-GCM key', 'ascii'), 32));
  const plain = Buffer.alloc(Math.floor((utf8.length + 1 + 31) / 32) * 32);
  utf8.copy(plain);
  plain[utf8.length] = 0x80;
  const c = createCipheriv('aes-256-gcm', key, NONCE);
  c.setAAD(Buffer.from('#MSTLK2:\x02', 'latin1'));
  const ciphertext = Buffer.concat([c.update(plain), c.final()]);
  return '#MSTLK2:' + Buffer.concat([Buffer.from([2]), NONCE, ciphertext, c.getAuthTag()]).toString('base64url');
}

const rows = [
  ['Cyrillic, classic', 'classic', 1251, 1, 1200000],
  ['Cyrillic, sealed', 'sealed', 1251, 2, 1200000],
  ['Western, classic', 'classic', 1252, 3, 1100000],
];

console.log(`# name\tkind\tcode page\tseed\tcharacters\tenvelope length\tenvelope SHA-256
# classic: --password "${CLASSIC_PASSWORD}"; sealed: a sealed key file whose first line is ` +
  `"${SEALED_KEY_TEXT}", nonce ${NONCE.toString('hex')}`);
for (const [name, kind, cp, seed, length] of rows) {
  const text = message(cp, seed, length);
  const envelope = kind === 'classic' ? sealed(bytesIn(cp, text), CLASSIC_PASSWORD, cp).envelope
    : sealedEnvelope(Buffer.from(text, 'utf8'));
  const digest = createHash('sha256').update(envelope, 'latin1').digest('hex');
  console.log([name, kind, cp, seed, length, envelope.length, digest].join('\t'));
}
