// Sender's side of the credential protection, for pages (WebCrypto).
//
//   import { protectCredentials } from './protect-credential.js';
//   const { Iv, values: [AK, SK] } = await protectCredentials(['access key', 'secret key']);
//   // startTalk: { ..., ZBCInfo: { address, AK, SK }, Security: 1, Iv }
//
// A plain value is UTF-8 encoded, written as Base64, completed with zero
// bytes to the next whole 16-byte block (a whole zero block when it already
// ends on one), encrypted with AES-128-CBC under the derived key and written
// as lowercase hexadecimal. The key material must equal the service's own
// (audio/CredentialKeyMaterial.h).

export const KEY_MATERIAL_FIRST = 'e5fe1d1a12f99ba5e925f9f454f5aa507da1c7073b936d6fe77d8601704ef15a';
export const KEY_MATERIAL_SECOND = 'Kq7#vR2!mZ9+tL4&';

// Longest plain value (in UTF-8 bytes) whose protected text stays below
// 2048 characters.
export const MAX_PLAIN_BYTES = 753;

const encoder = new TextEncoder();

function toHex(bytes) {
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

function toBase64(bytes) {
  let binary = '';
  for (const b of bytes) binary += String.fromCharCode(b);
  return btoa(binary);
}

// The 32-byte derived key: SHA-256 of both texts, then 99 rounds of SHA-256
// over the lowercase hexadecimal text of the previous digest.
export async function deriveCredentialKey(cryptoImpl = globalThis.crypto) {
  let digest = new Uint8Array(
    await cryptoImpl.subtle.digest('SHA-256', encoder.encode(KEY_MATERIAL_FIRST + KEY_MATERIAL_SECOND)));
  for (let round = 0; round < 99; ++round) {
    digest = new Uint8Array(await cryptoImpl.subtle.digest('SHA-256', encoder.encode(toHex(digest))));
  }
  return digest;
}

// Fresh random 16-byte initialisation vector.
export function makeIv(cryptoImpl = globalThis.crypto) {
  return cryptoImpl.getRandomValues(new Uint8Array(16));
}

// Protects one plain value with the given 16-byte vector; returns the hex text.
export async function protectCredential(plain, iv, cryptoImpl = globalThis.crypto) {
  const plainBytes = encoder.encode(plain);
  if (plainBytes.length > MAX_PLAIN_BYTES) throw new RangeError('credential value too long');
  if (!(iv instanceof Uint8Array) || iv.length !== 16) throw new TypeError('iv must be 16 bytes');

  const text = encoder.encode(toBase64(plainBytes));
  const blocks = new Uint8Array((Math.floor(text.length / 16) + 1) * 16);  // zero-filled
  blocks.set(text);

  const derived = await deriveCredentialKey(cryptoImpl);
  const key = await cryptoImpl.subtle.importKey('raw', derived.slice(0, 16), { name: 'AES-CBC' }, false, ['encrypt']);
  derived.fill(0);
  // WebCrypto always appends one block of padding; the blocks before it are
  // the cipher text without padding.
  const cipher = new Uint8Array(await cryptoImpl.subtle.encrypt({ name: 'AES-CBC', iv }, key, blocks));
  return toHex(cipher.subarray(0, blocks.length));
}

// Protects several values (the access key and the secret key of one talk
// start) with one fresh vector: { Iv: hex text, values: [hex text, ...] }.
export async function protectCredentials(plains, cryptoImpl = globalThis.crypto) {
  const iv = makeIv(cryptoImpl);
  const values = [];
  for (const plain of plains) values.push(await protectCredential(plain, iv, cryptoImpl));
  return { Iv: toHex(iv), values };
}
