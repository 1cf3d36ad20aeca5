// Bytes shown as text and typed back: printable text as it is, every other
// byte as \xNN, so that values and names that are not UTF-8 (or hold
// control characters) are shown without loss and can be given back exactly.
import { bytesOfHex, utf8 } from './core.js';

// Bytes as text: printable ASCII as it is, every other byte as \xNN.
export function escaped(bytes) {
  let text = '';
  for (const b of bytes) {
    text += b >= 0x20 && b < 0x7f && b !== 0x5c ? String.fromCharCode(b)
      : '\\x' + b.toString(16).padStart(2, '0');
  }
  return text;
}

// A field of a JSON row for showing: control characters and backslashes
// escaped, bytes that are not UTF-8 (given whole in the _hex twin) escaped
// from the bytes.
export function shownBytes(row, field) {
  const hex = row[field + '_hex'];
  if (typeof hex === 'string') return escaped(bytesOfHex(hex));
  return String(row[field]).replace(/[\u0000-\u001f\u007f\\]/g,
    (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'));
}

// The bytes of a field of a JSON row.
export function rowBytes(row, field) {
  const hex = row[field + '_hex'];
  return typeof hex === 'string' ? bytesOfHex(hex) : utf8.encode(String(row[field]));
}

// The bytes typed text stands for: each \xNN is that byte, the rest UTF-8.
export function bytesOfEscaped(text) {
  const out = [];
  const parts = text.split(/(\\x[0-9a-fA-F]{2})/);
  for (const part of parts) {
    if (/^\\x[0-9a-fA-F]{2}$/.test(part)) out.push(parseInt(part.slice(2), 16));
    else out.push(...utf8.encode(part));
  }
  return Uint8Array.from(out);
}
