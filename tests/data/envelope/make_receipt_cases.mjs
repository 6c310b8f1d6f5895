// Writes receipt_cases.tsv: envelopes from every code page a receiver tries,
// with what a receiver on a given code page must make of them, worked out
// here from the rules of receipt without any of Mistlock's code (the tables
// and the cipher of envelope_model.mjs). Run once by hand; the build never
// runs it:
//
//   node tests/data/envelope/make_receipt_cases.mjs > tests/data/envelope/receipt_cases.tsv
//
// The rules: a code page reads an envelope when every character of it is one
// of its 256; code pages that read the same bytes are one reading, taken in
// the receiver's own code page when that is one of them, else in the first of
// them in SENDER_CODE_PAGES' order. Then, with the key:
//   one reading whose length fits and whose zero fill deciphers to zeros:
//     opened, verified; two such: refused (nothing tells which was sent);
//   else a reading whose length fits and whose fill does not: refused;
//   else the receiver's own reading, if its length fits as a multiple of 16
//     (no fill): opened, unverified; another code page's such: refused;
//   else refused.
// Glued ("prefix"): each code page's reading ends where its length prefix says.
//
// Nothing here is random but a seeded generator: running it again must give
// the same file.
import assert from 'node:assert/strict';
import {
  SENDER_CODE_PAGES, bytesIn, decipher, encipher, envelope, hexOf, sealed, tables, withoutTrailingZeros,
} from './envelope_model.mjs';

// mulberry32: a small generator that is the same in every Node.
function generator(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s + 0x6d2b79f5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

function order(own) {
  return [own, ...SENDER_CODE_PAGES.filter((cp) => cp !== own)];
}

// The characters that UTF-8 bytes spell, one form after another, up to the
// first that is not valid; each with the offset where it ends.
const fatal = new TextDecoder('utf-8', { fatal: true });
function characters(bytes) {
  const out = [];
  for (let at = 0; at < bytes.length;) {
    const lead = bytes[at];
    const n = lead < 0x80 ? 1 : lead < 0xc2 ? 0 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : lead < 0xf5 ? 4 : 0;
    if (n === 0 || at + n > bytes.length) return { chars: out, valid: false };
    let ch;
    try {
      ch = fatal.decode(Uint8Array.from(bytes.slice(at, at + n)));
    } catch {
      return { chars: out, valid: false };
    }
    out.push({ ch, end: at + n });
    at += n;
  }
  return { chars: out, valid: true };
}

const byteOf = (cp, ch) => tables[cp].indexOf(ch);
const lengthOf = (payload) => Buffer.from(payload.slice(0, 4)).readUInt32LE();

// Every reading of the digits after the marker, or null for an envelope that
// no key opens.
function readings(digits, own, glued) {
  if (!/^[0-9A-Fa-f]*$/.test(digits)) return null;
  const bytes = [...Buffer.from(digits.slice(0, digits.length - (digits.length % 2)), 'hex')];
  const { chars, valid } = characters(bytes);
  if (!glued && !valid) return null;
  const found = [];
  for (const cp of order(own)) {
    let take = chars.length;
    if (glued) {
      if (chars.length < 4) continue;
      const prefix = chars.slice(0, 4).map(({ ch }) => byteOf(cp, ch));
      if (prefix.includes(-1)) continue;
      take = 4 + Math.ceil(lengthOf(prefix) / 16) * 16;
      if (take > chars.length) continue;
    }
    const payload = chars.slice(0, take).map(({ ch }) => byteOf(cp, ch));
    if (payload.includes(-1) || payload.length < 4) continue;
    const taken = glued ? 2 * chars[take - 1].end : digits.length;
    const same = found.find((r) => hexOf(r.payload) === hexOf(payload));
    if (same) same.codePages.push(cp);
    else found.push({ payload, codePages: [cp], taken });
  }
  return found;
}

// What the key and the zero fill say of a reading.
function check(reading, keyText) {
  const L = lengthOf(reading.payload);
  const cipher = reading.payload.slice(4);
  if (cipher.length === 0 || cipher.length !== Math.ceil(L / 16) * 16) return { kind: 'does not fit' };
  const plain = decipher(cipher, keyText);
  if (L % 16 === 0) return { kind: 'no fill', plain };
  return { kind: plain.slice(L).every((b) => b === 0) ? 'verified' : 'fill not zero', plain };
}

function opened(reading, plain, verified) {
  const text = withoutTrailingZeros(plain);
  const cp = reading.codePages[0];
  const alike = reading.codePages.slice(1).filter((other) => text.some((b) => tables[cp][b] !== tables[other][b]));
  return { cp, verified, alike, text, taken: reading.taken };
}

// What the receiver makes of the envelope: opened, or refused and why.
function outcome(digits, own, glued, keyText) {
  const all = readings(digits, own, glued);
  if (!all || all.length === 0) return { refused: 'no reading' };
  const checks = all.map((r) => ({ r, ...check(r, keyText) }));
  const verified = checks.filter((c) => c.kind === 'verified');
  if (verified.length > 1) return { refused: 'two readings verify' };
  if (verified.length === 1) return opened(verified[0].r, verified[0].plain, true);
  if (checks.some((c) => c.kind === 'fill not zero')) return { refused: 'fill not zero' };
  const noFill = checks.find((c) => c.kind === 'no fill' && c.r.codePages[0] === own) ??
    checks.find((c) => c.kind === 'no fill');
  if (noFill && noFill.r.codePages[0] === own) return opened(noFill.r, noFill.plain, false);
  return { refused: noFill ? 'no fill, not our code page' : 'does not fit' };
}

const lines = [
  '# Envelopes and what a receiver makes of them, made by make_receipt_cases.mjs beside this file (see README.md).',
  '# name, receiver\'s code page, whole or glued, key text as UTF-16LE hex, the digits after the marker;',
  '# then "refused", or "opened", the code page the message is taken in, verified or unverified, the other',
  '# code pages that read it alike (or -), the digits the envelope took, and the message bytes as hex (or -)',
];
const counts = { opened: 0, alike: 0, unverified: 0 };
function add(name, own, digits, keyText, glued = false) {
  const o = outcome(digits, own, glued, keyText);
  const keyHex = Buffer.from(keyText, 'utf16le').toString('hex').toUpperCase();
  const result = o.refused
    ? ['refused', '-', '-', '-', '-', '-']
    : ['opened', o.cp, o.verified ? 'verified' : 'unverified', o.alike.join(',') || '-', o.taken, hexOf(o.text) || '-'];
  if (o.refused) counts[o.refused] = (counts[o.refused] ?? 0) + 1;
  else {
    counts.opened += 1;
    if (o.alike.length) counts.alike += 1;
    if (!o.verified) counts.unverified += 1;
  }
  lines.push([name, own, glued ? 'glued' : 'whole', keyHex || '-', digits || '-', ...result].join('\t'));
  return o;
}
const digitsOf = (made) => made.envelope.slice(7);
const ascii = (s) => [...Buffer.from(s, 'latin1')];

// A message of 21 bytes sealed on 1252: 1251 reads the euro sign of its first
// block at another byte, and its last block alike, so both readings verify.
{
  const key = 'correct horse battery';
  const made = sealed([...Buffer.from('67733635764750724e2c4d6c592e4d6e4536622c63', 'hex')], key, 1252);
  assert.equal(made.envelope, '#MSTLK:150000006F1E79E282ACE2809A582E5E1A0BC2AB246B4C785B2831707450E280942D6326265728386723C2B0');
  for (const own of [1251, 1252, 866]) {
    assert.equal(add(`21 bytes, euro in the first block, on ${own}`, own, digitsOf(made), key).refused, 'two readings verify');
  }
}

// A message of 23 bytes sealed on 1252 under the all-zero key (an empty
// password) that 1251 receives: another code page reads its length prefix and
// last block as 1252 does and its first block otherwise, so two readings
// verify, whole and glued alike.
{
  const made = sealed([...Buffer.from('D7E0FC38FF02D2D2920000000000000000000000D2D2D2', 'hex')], '', 1252);
  for (const glued of [false, true]) {
    const name = `23 bytes from 1252, all-zero key${glued ? ', glued' : ''}, on 1251`;
    assert.equal(add(name, 1251, digitsOf(made) + (glued ? 'deadbeef' : ''), '', glued).refused, 'two readings verify');
  }
}

// A message of 20 bytes sealed on 1251 whose length prefix and last block are
// ASCII, and whose first block holds А (0xC0) and Ђ (0x80): 1252 has neither,
// 866 has no Ђ, so only 1251 reads it, wherever it arrives. A reading that
// put some other byte for a character its code page lacks would verify too,
// its last block being the same.
{
  const key = 'correct horse battery';
  const random = generator(20);
  let tail;
  let last;
  do {
    tail = Array.from({ length: 4 }, () => 0x21 + Math.floor(random() * 94));
    last = encipher([...tail, ...Array(12).fill(0)], key);
  } while (!last.every((b) => b < 0x80));
  const first = [...ascii('Mist'), 0xc0, 0x80, ...ascii('lock, twenty')].slice(0, 16);
  const made = sealed([...decipher(first, key), ...tail], key, 1251);
  for (const own of [1252, 866, 1251]) {
    for (const glued of [false, true]) {
      const name = `20 bytes from 1251, А and Ђ in the first block${glued ? ', glued' : ''}, on ${own}`;
      const o = add(name, own, digitsOf(made) + (glued ? '0d0a' : ''), key, glued);
      assert.ok(o.cp === 1251 && o.verified);
    }
  }
}

// Turkish sentences sealed on 1254 whose envelope 1252 reads as the same
// bytes: shown as Western text on a Cyrillic side, and named.
{
  let found = 0;
  for (let i = 1; found < 2; i += 1) {
    const key = `${i} anahtar uzun`;
    const made = sealed(bytesIn(1254, `Bu değil İstanbul, şehir ${i}`), key, 1254);
    const r = readings(digitsOf(made), 1251, false);
    if (r.length !== 1 || !r[0].codePages.includes(1252)) continue;
    found += 1;
    for (const own of [1251, 1252, 1254]) {
      const o = add(`Turkish ${i}, read alike by 1252, on ${own}`, own, digitsOf(made), key);
      assert.ok(o.alike?.length > 0);
    }
    add(`Turkish ${i}, read alike by 1252, glued, on 1251`, 1251, `${digitsOf(made)}0d0a`, key, true);
  }
}

// 136 bytes sealed on 1251: the prefix 88 00 00 00 is the euro sign, 0x80 on
// 1252, where it reads as 128 bytes with no fill. Glued to hex digits, under
// a wrong key, the 1251 reading's fill still refuses it.
{
  const made = sealed(Array(136).fill(0x78), 'alpha key one', 1251);
  for (const key of ['bravo key two', 'alpha key one']) {
    add(`136 bytes from 1251, glued, key "${key}", on 1252`, 1252, `${digitsOf(made)}deadbeef`, key, true);
    add(`136 bytes from 1251, key "${key}", on 1252`, 1252, digitsOf(made), key);
  }
}

// The same length, and a ciphertext made of characters that 1251 and 1252
// have at the same bytes (the message is what it deciphers to), so that
// 1252 reads it too: as 128 bytes with no fill. Under a wrong key the 1251
// reading's fill refuses it still; that reading verifies under the right one.
{
  const key = 'alpha key one';
  const same = [...Array(256).keys()].filter((b) => tables[1251][b] === tables[1252][b]);
  const random = generator(136);
  const pick = () => same[Math.floor(random() * same.length)];
  let last;
  do {
    last = encipher([...Array.from({ length: 8 }, () => 0x20 + Math.floor(random() * 95)), ...Array(8).fill(0)], key);
  } while (!last.every((b) => same.includes(b)));
  const message = decipher([...Array.from({ length: 128 }, pick), ...last], key).slice(0, 136);
  const made = sealed(message, key, 1251);
  assert.equal(readings(digitsOf(made), 1252, true).length, 2);
  for (const wrong of [true, false]) {
    const name = `136 bytes from 1251 that 1252 reads as 128, glued${wrong ? ', wrong key' : ''}, on 1252`;
    add(name, 1252, `${digitsOf(made)}0d0a`, wrong ? 'bravo key two' : key, true);
  }
}

// An earlier plug-in's message of 32 bytes: no fill.
{
  const made = envelope(ascii('Thirty-two bytes, no zero fill!!'), 'secret', 1251);
  for (const own of [1251, 1252]) add(`earlier plug-in, 32 bytes from 1251, on ${own}`, own, digitsOf(made), 'secret');
  add('earlier plug-in, 32 bytes from 1251, wrong key, on 1251', 1251, digitsOf(made), 'Secret');
  const sixteen = sealed(ascii('0123456789abcdef'), 'secret', 1252);
  add('16 bytes sealed now on 1252, on 1252', 1252, digitsOf(sixteen), 'secret');
  add('16 bytes sealed now on 1252, wrong key, on 1252', 1252, digitsOf(sixteen), 'Secret');
}

// What no key opens.
{
  const cjk = `05000000${hexOf([...Buffer.from('\u4e00', 'utf8')])}${'41'.repeat(15)}`;
  add('a character no code page has', 1251, cjk, 'secret');
  add('the marker alone', 1251, '', 'secret');
  add('one digit', 1251, '0', 'secret', true);
  add('cut short', 1251, digitsOf(sealed(ascii('Hello there'), 'secret', 1251)).slice(0, 30), 'secret', true);
}

// Random messages between random code pages, sealed now and by earlier
// plug-ins, under the right key and now and then a wrong one, whole and glued.
{
  const random = generator(20240622);
  const pick = (list) => list[Math.floor(random() * list.length)];
  for (let n = 0; n < 320; n += 1) {
    const from = pick(SENDER_CODE_PAGES);
    const own = pick(SENDER_CODE_PAGES);
    const length = random() < 0.25 ? 16 * (1 + Math.floor(random() * 4)) : 1 + Math.floor(random() * 70);
    const message = Array.from({ length }, () => Math.floor(random() * 256));
    const key = Array.from({ length: 10 }, () => String.fromCharCode(0x61 + Math.floor(random() * 26))).join('');
    const earlier = random() < 0.5;
    const made = (earlier ? envelope : sealed)(message, key, from);
    const wrong = random() < 0.2;
    const glued = random() < 0.3;
    const tail = glued ? Array.from({ length: Math.floor(random() * 40) }, () => pick([...'0123456789abcdefABCDEF'])).join('') : '';
    add(`random ${n}: ${length} bytes ${earlier ? 'by an earlier plug-in ' : ''}from ${from}${wrong ? ', wrong key' : ''}` +
        `${glued ? ', glued' : ''}, on ${own}`, own, digitsOf(made) + tail, wrong ? `${key}!` : key, glued);
  }
}

process.stdout.write(lines.join('\n') + '\n');
process.stderr.write(`${lines.length - 4} cases: ${JSON.stringify(counts)}\n`);
