// Runs the web page's module under Node on a list of jobs (JSON on standard
// input) and prints their results as JSON: how a script uses the module.
//   decode: {op: 'decode', file}         -> {width, height, rgba (base64), info, png_text, blocks, damage} or {error}
'use strict';
const fs = require('fs');
const path = require('path');
const site = process.argv[2];
const createZefa = require(path.resolve(site, 'zefa.js'));

async function run(zefa, job) {
  try {
    const r = await zefa.decode(new Uint8Array(fs.readFileSync(job.file)));
    return {...r, rgba: Buffer.from(r.rgba.buffer).toString('base64')};
  } catch (e) {
    if (!(e instanceof Error)) throw e;
    return {error: e.message};
  }
}

(async () => {
  const jobs = JSON.parse(fs.readFileSync(0, 'utf8'));
  const zefa = await createZefa({wasmBinary: fs.readFileSync(path.resolve(site, 'zefa.wasm'))});
  const out = [];
  for (const job of jobs) out.push(await run(zefa, job));
  process.stdout.write(JSON.stringify(out));
})();
