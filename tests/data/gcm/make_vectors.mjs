// Writes vectors.txt: AES-256-GCM results made without any of Mistlock's code,
// by OpenSSL's aes-256-gcm through Node's crypto, at the lengths where the
// product's runs of blocks change shape: every length up to three blocks,
// every multiple of a block to 33 blocks and one byte past it, and around one,
// two and three times 8, 12 and 32 blocks, then long runs up to 70,000 bytes.
// Nonces of 12 bytes and of other lengths, associated data of several
// lengths, every allowed tag length, and two nonces made so that the 32-bit
// block count wraps inside the message. Run once by hand; the build never
// runs it:
//
//   node tests/data/gcm/make_vectors.mjs > tests/data/gcm/vectors.txt
//
// Nothing here is random: running it again must give the same file.
//
// One vector a line, fields name=value: len (plaintext bytes), key, iv, aad
// (hex), seed, tag (hex), and ct (hex) or, past 2048 bytes, ct-sha256 (the
// SHA-256 of the ciphertext, hex). Plaintext byte i is
// (seed + 131 * i + floor(i / 256)) mod 256.
import { createCipheriv, createDecipheriv, createHash } from 'node:crypto';
import assert from 'node:assert/strict';

// Deterministic bytes for a label: SHA-256 in counter mode.
function bytesFor(label, n) {
  const out = Buffer.alloc(n);
  for (let at = 0, i = 0; at < n; i += 1) {
    const d = createHash('sha256').update(`mistlock gcm vectors ${label} ${i}`).digest();
    at += d.copy(out, at);
  }
  return out;
}

function plaintext(seed, n) {
  const p = Buffer.alloc(n);
  for (let i = 0; i < n; i += 1) p[i] = (seed + 131 * i + Math.floor(i / 256)) % 256;
  return p;
}

// GHASH's field (SP 800-38D, algorithm 1), bit by bit on BigInts: only to
// choose nonces whose counter block is known; the vectors themselves come
// from OpenSSL.
const R = 0xe1n << 120n;
const MASK = (1n << 128n) - 1n;
function mul(x, y) {
  let z = 0n;
  let v = y;
  for (let i = 127n; i >= 0n; i -= 1n) {
    if ((x >> i) & 1n) z ^= v;
    v = v & 1n ? (v >> 1n) ^ R : v >> 1n;
  }
  return z;
}
function inverse(x) {
  // x^(2^128 - 2)
  let result = 1n << 127n; // the field's 1
  let base = x;
  let e = MASK - 1n;
  while (e > 0n) {
    if (e & 1n) result = mul(result, base);
    base = mul(base, base);
    e >>= 1n;
  }
  return result;
}
const toBig = (buf) => BigInt(`0x${buf.toString('hex') || '0'}`);
const toBuf = (big) => Buffer.from(big.toString(16).padStart(32, '0'), 'hex');

// A 32-byte nonce whose first counter block J0 ends in the count `last`:
// J0 = X1 H^3 + X2 H^2 + L H for the nonce's two blocks and its length block,
// solved for X2.
function nonceWithCount(key, label, last) {
  const ecb = createCipheriv('aes-256-ecb', key, null).setAutoPadding(false);
  const h = toBig(Buffer.concat([ecb.update(Buffer.alloc(16)), ecb.final()]));
  const x1 = toBig(bytesFor(`${label} x1`, 16));
  const target = (toBig(bytesFor(`${label} j0`, 12)) << 32n) | BigInt(last);
  const lengths = 256n; // 0 bits of data, then 256 bits of nonce
  const h2 = mul(h, h);
  const h3 = mul(h2, h);
  const x2 = mul(target ^ mul(x1, h3) ^ mul(lengths, h), inverse(h2));
  const nonce = Buffer.concat([toBuf(x1), toBuf(x2)]);
  const j0 = mul(mul(mul(x1, h) ^ x2, h) ^ lengths, h);
  assert.equal(j0, target, 'the nonce gives the counter block chosen');
  return nonce;
}

const vectors = [];
function add(name, len, { ivLength = 12, aadLength = 0, tagLength = 16, iv = null } = {}) {
  const key = bytesFor(`${name} key`, 32);
  const nonce = iv ?? bytesFor(`${name} iv`, ivLength);
  const aad = bytesFor(`${name} aad`, aadLength);
  const seed = bytesFor(`${name} seed`, 1)[0];
  const cipher = createCipheriv('aes-256-gcm', key, nonce, { authTagLength: tagLength });
  if (aadLength > 0) cipher.setAAD(aad);
  const ct = Buffer.concat([cipher.update(plaintext(seed, len)), cipher.final()]);
  const tag = cipher.getAuthTag();
  const text = len > 2048 ? `ct-sha256=${createHash('sha256').update(ct).digest('hex')}` : `ct=${ct.toString('hex')}`;
  vectors.push(`len=${len} key=${key.toString('hex')} iv=${nonce.toString('hex')} aad=${aad.toString('hex')} ` +
               `seed=${seed} tag=${tag.toString('hex')} ${text}`);
}

const lengths = new Set();
for (let n = 0; n <= 48; n += 1) lengths.add(n);
for (let blocks = 0; blocks <= 33; blocks += 1) {
  lengths.add(16 * blocks);
  lengths.add(16 * blocks + 1);
}
for (const batch of [8, 12, 32]) {
  for (const times of [1, 2, 3]) {
    for (const d of [-17, -16, -15, -1, 0, 1, 15, 16, 17]) lengths.add(16 * batch * times + d);
  }
}
for (const n of [4099, 8191, 16384, 65535, 65536, 65537, 70000]) lengths.add(n);
const sorted = [...lengths].sort((a, b) => a - b);
const aadLengths = [0, 1, 13, 16, 20, 100, 300];
const tagLengths = [16, 15, 14, 13, 12, 8, 4];
sorted.forEach((len, i) => {
  const tagLength = i % 3 === 0 ? tagLengths[(i / 3) % tagLengths.length] : 16;
  add(`len ${len}`, len, { aadLength: aadLengths[i % aadLengths.length], tagLength });
});
// Other nonce lengths: the counter starts from their hash.
for (const ivLength of [1, 8, 16, 60, 128]) {
  for (const len of [0, 17, 200, 1000]) add(`iv ${ivLength} len ${len}`, len, { ivLength, aadLength: 20 });
}
// The count wraps from 0xffffffff to 0 after 5 blocks, and after 27 (inside
// a batch of 32).
// OpenSSL itself confirms the count: its first keystream block deciphers to
// J0 with the count one up.
for (const [label, last, len] of [['wrap a', 0xfffffffa, 700], ['wrap b', 0xffffffe4, 1500]]) {
  const key = bytesFor(`${label} key`, 32);
  const iv = nonceWithCount(key, label, last);
  const gcm = createCipheriv('aes-256-gcm', key, iv);
  const keystream = gcm.update(Buffer.alloc(16));
  const ecb = createDecipheriv('aes-256-ecb', key, null).setAutoPadding(false);
  const counter = Buffer.concat([ecb.update(keystream), ecb.final()]);
  assert.equal(counter.readUInt32BE(12), last + 1, 'OpenSSL counts from the block chosen');
  add(label, len, { iv, aadLength: 16 });
}

process.stdout.write(`# AES-256-GCM by OpenSSL through Node's crypto (tests/data/gcm/make_vectors.mjs)\n`);
process.stdout.write(`${vectors.join('\n')}\n`);
