// The browser build's decode job on the hour stream under Node, against the native program in
// the same run, alternated:
//   node bench/web_speed.mjs [--chromium] [RUNS] [SITE...]
// SITE: folders built by web/build.sh (default build/web/site); several are alternated, to
// compare two builds of the module. With --chromium each module runs in headless Chromium
// (/usr/bin/chromium or $CHROMIUM, driven by puppeteer-core from tests/web/node_modules, which
// tests/web/run.sh installs), in a page served from 127.0.0.1, as the page's worker runs it;
// Chromium's CPU time is not measured. Prints each run and, per program, the best and median
// times real time, of wall time and of CPU time (on a machine loaded beyond its cores, wall time
// grows with the other work). The stream is build/release/bench/streams/hour_mixed.wav; the native
// program build/release/app/amrconv.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { spawnSync } from 'node:child_process';
import http from 'node:http';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const args = process.argv.slice(2);
const inChromium = args[0] === '--chromium';
if (inChromium) args.shift();
const runs = Number(args[0] || 5);
const sites = args.length > 1 ? args.slice(1) : ['build/web/site'];
const stream = path.join(root, 'build/release/bench/streams/hour_mixed.wav');
const native = path.join(root, 'build/release/app/amrconv');
const { Converter } = require(path.join(root, 'web/converter.js'));

const source = new Uint8Array(fs.readFileSync(stream));
const programs = [];
let browser = null;
let server = null;
if (inChromium) {
  // One static server for the sites and the stream: /s/N/ is site N, /hour.wav the stream.
  server = http.createServer((req, res) => {
    if (req.url === '/') {
      res.writeHead(200, { 'Content-Type': 'text/html' }).end('<!doctype html><title>speed</title>');
      return;
    }
    const m = /^\/s\/(\d+)\/([a-z_]+\.(js|wasm))$/.exec(req.url);
    const file = req.url === '/hour.wav' ? stream : m && sites[m[1]] ? path.resolve(root, sites[m[1]], m[2]) : null;
    if (file === null || !fs.existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    const type = file.endsWith('.wasm') ? 'application/wasm' : file.endsWith('.js') ? 'text/javascript' : 'audio/wav';
    res.writeHead(200, { 'Content-Type': type });
    fs.createReadStream(file).pipe(res);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const puppeteer = require(path.join(root, 'tests/web/node_modules/puppeteer-core'));
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run'],
  });
}
for (const [index, site] of sites.entries()) {
  if (inChromium) {
    const page = await browser.newPage();
    const base = `http://127.0.0.1:${server.address().port}/s/${index}/`;
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.addScriptTag({ url: base + 'amrconv.js' });
    await page.addScriptTag({ content: fs.readFileSync(path.join(root, 'web/converter.js'), 'utf8') });
    await page.evaluate(async (base) => {
      window.converter = await AmrConverter.Converter.create(createAmrconvModule, { locateFile: (f) => base + f });
      window.hour = new Uint8Array(await (await fetch('/hour.wav')).arrayBuffer());
    }, base);
    programs.push({
      name: `wasm ${site} in Chromium`,
      run: () => page.evaluate(() => {
        // As the page's worker runs the decode job (converter.js convert).
        converter.m.FS.writeFile('hour_mixed.wav', hour);
        const { frames } = converter.survey('hour_mixed.wav');
        const r = converter.runJob(1, 'hour_mixed.wav', 'out/hour_mixed_decoded.wav', null, 62 + 320 * frames);
        converter.m.FS.unlink('hour_mixed.wav');
        if (r.status !== 0) throw new Error(`decode status ${r.status}`);
        return { ms: r.ms, frames: (r.bytes.length - 62) / 320 };
      }).then((r) => ({ ...r, cpuMs: NaN })),
    });
    continue;
  }
  const dir = path.resolve(root, site);
  const factory = require(path.join(dir, 'amrconv.js'));
  const converter = await Converter.create(factory, { wasmBinary: fs.readFileSync(path.join(dir, 'amrconv.wasm')) });
  programs.push({
    name: `wasm ${site}`,
    run: () => {
      // The decode job alone, as the page runs it (converter.js): its own wall time, and the
      // process's CPU time around it.
      converter.m.FS.writeFile('hour_mixed.wav', source);
      const { frames } = converter.survey('hour_mixed.wav');
      const cpu0 = process.cpuUsage();
      const r = converter.runJob(1, 'hour_mixed.wav', 'out/hour_mixed_decoded.wav', null, 62 + 320 * frames);
      const cpu = process.cpuUsage(cpu0);
      if (r.status !== 0) throw new Error(`decode status ${r.status}`);
      return { ms: r.ms, cpuMs: (cpu.user + cpu.system) / 1000, frames: (r.bytes.length - 62) / 320 };
    },
  });
}
const out = path.join(os.tmpdir(), `web_speed_${process.pid}.wav`);
programs.push({
  name: 'native amrconv',
  run: () => {
    // Wall time here, CPU time from the shell's `time`.
    const t0 = process.hrtime.bigint();
    const r = spawnSync('bash', ['-c', 'TIMEFORMAT="%U %S"; time "$0" "$1" "$2" 1 >/dev/null', native, stream, out],
                        { stdio: ['ignore', 'ignore', 'pipe'] });
    if (r.status !== 0) throw new Error(`amrconv ended with ${r.status}`);
    const ms = Number(process.hrtime.bigint() - t0) / 1e6;
    const [user, sys] = String(r.stderr).trim().split(/\s+/).map(Number);
    return { ms, cpuMs: (user + sys) * 1000, frames: (fs.statSync(out).size - 62) / 320 };
  },
});

console.log(`load average before: ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}`);
const times = programs.map(() => []);
const cpuTimes = programs.map(() => []);
let hourFrames = 0;
for (let i = 0; i < runs; ++i) {
  for (const [k, p] of programs.entries()) {
    const { ms, cpuMs, frames: n } = await p.run();
    hourFrames = n;
    times[k].push(ms);
    cpuTimes[k].push(cpuMs);
    console.log(`run ${i + 1}, ${p.name}: ${ms.toFixed(0)} ms wall (${Math.round((n * 20) / ms)}x real time)` +
                (Number.isNaN(cpuMs) ? '' : `, ${cpuMs.toFixed(0)} ms CPU`));
  }
}
fs.rmSync(out, { force: true });
if (browser !== null) {
  await browser.close();
  server.close();
}
console.log(`load average after: ${os.loadavg().map((l) => l.toFixed(2)).join(' ')}`);
const summary = (t) => {
  t.sort((a, b) => a - b);
  const best = t[0], median = t[Math.floor((t.length - 1) / 2)];
  return `best ${best.toFixed(0)} ms (${Math.round((hourFrames * 20) / best)}x real time, ` +
         `${Math.round((best * 1e6) / hourFrames)} ns per frame), median ${median.toFixed(0)} ms ` +
         `(${Math.round((hourFrames * 20) / median)}x real time)`;
};
programs.forEach((p, k) => {
  console.log(`${p.name}, wall: ${summary(times[k])}`);
  if (!cpuTimes[k].some(Number.isNaN)) console.log(`${p.name}, CPU: ${summary(cpuTimes[k])}`);
});
