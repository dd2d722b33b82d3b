'use strict';
// The page: files in, pictures and texts out.  Every rule about a ZEFA file
// (decoding, limits, damage, header text, encoding) is the module's; this
// script only moves bytes and builds the page.
const $ = id => document.getElementById(id);
const loading = createZefa();
window.zefa = {
  decode: async bytes => (await loading).decode(bytes),
  encode: async (picture, options) => (await loading).encode(picture, options),
};

const opened = [];
let shown = null;

function say(text) { $('status').textContent = text; }
function baseName(name) { return name.replace(/\.[^.]*$/, '') || name; }
function el(tag, text) { const e = document.createElement(tag); if (text !== undefined) e.textContent = text; return e; }

function save(bytes, name, type) {
  const a = el('a');
  a.href = URL.createObjectURL(new Blob([bytes], {type}));
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}

// ---- opening ---------------------------------------------------------------

async function openFiles(files) {
  performance.mark('chosen');
  for (const file of files) {
    const li = el('li');
    $('strip').append(li);
    try {
      const pic = await zefa.decode(new Uint8Array(await file.arrayBuffer()));
      const entry = {name: file.name, pic, button: el('button')};
      entry.button.type = 'button';
      entry.button.append(thumbnail(pic), ...(pic.info.title ? [el('strong', pic.info.title)] : []), el('span', file.name));
      entry.button.addEventListener('click', () => show(entry));
      li.append(entry.button);
      opened.push(entry);
      if (!shown || files.length === 1) show(entry);
    } catch (e) {
      li.append(el('span', `${file.name}: ${e.message}`));
      li.className = 'failed';
      say(`${file.name} cannot be opened: ${e.message}`);
    }
  }
}

// The picture as its pixels are meant to be seen: a pixel ratio x:y is a
// pixel x wide and y high.
function shape(pic, stored) {
  const {ratio_x: x, ratio_y: y} = pic.info;
  if (stored || !(x > 0 && y > 0) || x === y) return [pic.width, pic.height];
  return x > y ? [pic.width * x / y, pic.height] : [pic.width, pic.height * y / x];
}

function pictureCanvas(pic, canvas = el('canvas')) {
  canvas.width = pic.width;
  canvas.height = pic.height;
  canvas.getContext('2d').putImageData(new ImageData(pic.rgba, pic.width, pic.height), 0, 0);
  return canvas;
}

function thumbnail(pic) {
  const [w, h] = shape(pic, false), scale = Math.min(96 / w, 96 / h, 1);
  const t = el('canvas');
  t.width = Math.max(1, Math.round(w * scale));
  t.height = Math.max(1, Math.round(h * scale));
  t.getContext('2d').drawImage(pictureCanvas(pic), 0, 0, t.width, t.height);
  return t;
}

function show(entry) {
  shown = entry;
  for (const o of opened) o.button.setAttribute('aria-pressed', o === entry);
  const {pic, name} = entry, info = pic.info;
  $('viewer').hidden = false;
  $('picture-title').textContent = info.title || name;
  $('damage').hidden = !pic.damage;
  $('damage').textContent = pic.damage ? `Damaged: ${pic.damage}. Every line before it is shown; the rest is transparent.` : '';
  pictureCanvas(pic, $('canvas')).setAttribute('aria-label', `${info.title || name}, ${pic.width} × ${pic.height} pixels`);
  layout();
  const rows = [['File', name], ['Title', info.title], ['Author', info.author], ['Comment', info.comment],
    ['Date', info.date], ['Depth', `${info.depth} bits`], ['Pixel ratio', `${info.ratio_x}:${info.ratio_y}`],
    ['Size', `${pic.width} × ${pic.height}`], ['Number', info.number], ['Subtitle', info.subtitle], ['Saver', info.saver]];
  $('header').replaceChildren(...rows.filter(r => r[1] != null && r[1] !== '').flatMap(([k, v]) => [el('dt', k), el('dd', v)]));
  $('blocks').tBodies[0].replaceChildren(...pic.blocks.map(b => {
    const tr = el('tr');
    const decodes = b.decodes ? 'yes' : 'lines_decoded' in b ? `stopped after ${b.lines_decoded} lines` : 'no';
    tr.append(el('td', b.number), el('td', b.tag), el('td', `${b.x}, ${b.y}`), el('td', `${b.width} × ${b.height}`), el('td', decodes));
    return tr;
  }));
  say(`${name}: ${pic.width} × ${pic.height}, ${info.depth} bits${pic.damage ? ', damaged' : ''}`);
  performance.measure('first picture', 'chosen');
}

function layout() {
  if (!shown) return;
  const c = $('canvas'), one = document.querySelector('[name=scale]:checked').value === 'one';
  const [w, h] = shape(shown.pic, $('stored').checked);
  c.style.aspectRatio = `${w} / ${h}`;
  c.style.width = one ? `${w}px` : `min(100%, ${w * 80 / h}vh)`;
  c.style.height = one ? `${h}px` : 'auto';
  // pixels as sharp squares wherever they are drawn larger than one
  c.classList.toggle('sharp', c.getBoundingClientRect().width >= c.width);
}

// ---- PNG with the header as text -------------------------------------------

const crcTable = Array.from({length: 256}, (_, n) => {
  for (let k = 0; k < 8; k++) n = n & 1 ? 0xEDB88320 ^ (n >>> 1) : n >>> 1;
  return n >>> 0;
});
function crc32(bytes) {
  let c = ~0;
  for (const b of bytes) c = crcTable[(c ^ b) & 255] ^ (c >>> 8);
  return ~c >>> 0;
}

function chunk(type, data) {
  const out = new Uint8Array(12 + data.length), view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  out.set(new TextEncoder().encode(type), 4);
  out.set(data, 8);
  view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
  return out;
}

// The browser's PNG with zfconv's chunks after IHDR: the texts as iTXt,
// the time as tIME, the pixel shape as pHYs.
async function pngOf(pic) {
  const blob = await new Promise(done => pictureCanvas(pic).toBlob(done, 'image/png'));
  const png = new Uint8Array(await blob.arrayBuffer());
  const enc = new TextEncoder(), extra = [];
  for (const [key, text] of pic.png_text)
    extra.push(chunk('iTXt', new Uint8Array([...enc.encode(key), 0, 0, 0, 0, 0, ...enc.encode(text)])));
  const t = new Date(pic.info.time * 1000), time = new Uint8Array(7);
  new DataView(time.buffer).setUint16(0, t.getUTCFullYear());
  time.set([t.getUTCMonth() + 1, t.getUTCDate(), t.getUTCHours(), t.getUTCMinutes(), t.getUTCSeconds()], 2);
  extra.push(chunk('tIME', time));
  if (pic.info.ratio_x > 0 && pic.info.ratio_y > 0) {
    const phys = new Uint8Array(9), v = new DataView(phys.buffer);
    v.setUint32(0, pic.info.ratio_y);
    v.setUint32(4, pic.info.ratio_x);
    extra.push(chunk('pHYs', phys));
  }
  const ihdrEnd = 8 + 25;
  return new Blob([png.subarray(0, ihdrEnd), ...extra, png.subarray(ihdrEnd)]);
}

// ---- making a ZEFA file ----------------------------------------------------

// Any picture the browser opens, at its stored pixels; a ZEFA file through
// the module.
async function pictureOf(file) {
  let bitmap;
  try {
    bitmap = await createImageBitmap(file, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
  } catch (e) {
    return zefa.decode(new Uint8Array(await file.arrayBuffer()));
  }
  const c = el('canvas');
  c.width = bitmap.width;
  c.height = bitmap.height;
  const g = c.getContext('2d', {willReadFrequently: true});
  g.drawImage(bitmap, 0, 0);
  const {data} = g.getImageData(0, 0, c.width, c.height);
  return {width: c.width, height: c.height, rgba: data};
}

async function make(event) {
  event.preventDefault();
  const file = $('picture').files[0], out = $('made');
  if (!file) return;
  out.replaceChildren(el('p', `Making ${baseName(file.name)}.ZF ...`));
  try {
    const pic = await pictureOf(file);
    const bytes = await zefa.encode(pic, {depth: Number($('depth').value), coding: $('coding').value,
      title: $('title').value, author: $('author').value, comment: $('comment').value});
    const name = `${baseName(file.name)}.ZF`;
    const list = el('ul');
    list.append(...bytes.notes.map(n => el('li', n)));
    out.replaceChildren(el('p', `Made ${name}: ${bytes.length} bytes.`), list);
    save(bytes, name, 'application/x-zefa');
  } catch (e) {
    out.replaceChildren(el('p', `${file.name}: ${e.message}`));
  }
}

// ---- wiring ----------------------------------------------------------------

$('files').addEventListener('change', e => openFiles([...e.target.files]));
document.addEventListener('dragover', e => e.preventDefault());
document.addEventListener('drop', e => { e.preventDefault(); openFiles([...e.dataTransfer.files]); });
for (const input of document.querySelectorAll('[name=scale], #stored')) input.addEventListener('change', layout);
addEventListener('resize', layout);
$('save-png').addEventListener('click', async () => save(await pngOf(shown.pic), `${baseName(shown.name)}.png`, 'image/png'));
$('make').addEventListener('submit', make);
loading.catch(e => say(`The decoder cannot start: ${e.message}`));
// offline next time (where the page is served over http://localhost or https://)
navigator.serviceWorker?.register('sw.js').catch(() => {});
