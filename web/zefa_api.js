// The module's calls as promises of plain objects (appended to the
// Emscripten glue, so it sees the module's memory and exports).
function zwTake(r, pixels) {
  const at = r >> 2, data = HEAPU32[at], size = HEAP32[at + 1];
  const width = HEAP32[at + 2], height = HEAP32[at + 3];
  let end = HEAPU32[at + 4];
  const json = HEAPU32[at + 4];
  while (HEAPU8[end]) end++;
  const out = JSON.parse(new TextDecoder().decode(HEAPU8.subarray(json, end)));
  const bytes = HEAPU8.slice(data, data + size);
  _zw_release(r);
  if (out.error) throw new Error(out.error);
  if (pixels) Object.assign(out, {width, height, rgba: new Uint8ClampedArray(bytes.buffer)});
  else out.bytes = bytes;
  return out;
}
function zwCopy(bytes) {
  const p = _malloc(bytes.length + 1);
  HEAPU8.set(bytes, p);
  HEAPU8[p + bytes.length] = 0;
  return p;
}
function zwWith(buffers, call) {
  const ptrs = buffers.map(zwCopy);
  try { return call(...ptrs); } finally { ptrs.forEach(p => _free(p)); }
}
Module.decode = async bytes =>
  zwTake(zwWith([bytes], p => _zw_decode(p, bytes.length)), true);
Module.encode = async ({width, height, rgba}, o = {}) => {
  if (rgba.length !== width * height * 4) throw new Error('rgba must hold width * height * 4 bytes');
  const text = s => new TextEncoder().encode(s || '');
  const r = zwWith([rgba, text(o.coding || 'fast'), text(o.title), text(o.author), text(o.comment)],
    (p, c, t, a, m) => _zw_encode(p, width, height, o.depth || 24, c, t, a, m));
  const out = zwTake(r, false);
  out.bytes.notes = out.notes;
  return out.bytes;
};
