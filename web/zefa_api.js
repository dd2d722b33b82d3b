// The module's calls as promises of plain objects (appended to the
// Emscripten glue, so it sees the module's memory and exports).  A
// zw_result is five 32-bit words: data, size, width, height, json.
function zwTake(r) {
  if (!r) throw new Error('out of memory');
  const at = r >> 2, data = HEAPU32[at], json = HEAPU32[at + 4];
  const out = JSON.parse(new TextDecoder().decode(HEAPU8.subarray(json, HEAPU8.indexOf(0, json))));
  out.bytes = HEAPU8.slice(data, data + HEAP32[at + 1]);
  out.width = HEAP32[at + 2];
  out.height = HEAP32[at + 3];
  _zw_release(r);
  if (out.error) throw new Error(out.error);
  return out;
}
// Calls `call` with copies of `buffers` in the module's memory, 0-terminated.
function zwWith(buffers, call) {
  const ptrs = buffers.map(b => {
    const p = _malloc(b.length + 1);
    HEAPU8.set(b, p);
    HEAPU8[p + b.length] = 0;
    return p;
  });
  try { return call(...ptrs); } finally { ptrs.forEach(p => _free(p)); }
}
Module.decode = async bytes => {
  bytes = bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes); // an ArrayBuffer too
  const {bytes: rgba, ...out} = zwTake(zwWith([bytes], p => _zw_decode(p, bytes.length)));
  out.rgba = new Uint8ClampedArray(rgba.buffer);
  return out;
};
Module.encode = async ({width, height, rgba}, o = {}) => {
  if (rgba.length !== width * height * 4) throw new Error('rgba must hold width * height * 4 bytes');
  const text = s => new TextEncoder().encode(s || '');
  const out = zwTake(zwWith([rgba, text(o.coding || 'fast'), text(o.title), text(o.author), text(o.comment)],
    (p, c, t, a, m) => _zw_encode(p, width, height, o.depth || 24, c, t, a, m)));
  out.bytes.notes = out.notes;
  return out.bytes;
};
