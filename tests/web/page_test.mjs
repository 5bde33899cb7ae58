// The page in the system's headless Chromium, served from 127.0.0.1: conformance streams, a
// "#!AMR" file and damaged files go in through the file input; the downloaded WAV and AMR files
// must equal amrconv's, the shown message and status must be the program's, nothing may be
// fetched from anywhere else, and the one-hour stream gives the decoding speed.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import {
  check, skip, finish, expect, sameBytes, masked, runNative, nativeAvailable, conformanceStreams,
  damagedInputs, siteDir, workDir, repoRoot,
} from './harness.mjs';

const require = createRequire(import.meta.url);
const puppeteer = require('puppeteer-core');

const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
// Resolved: Chromium refuses to read an uploaded file whose path has '..' in it.
const hourStream = path.resolve(process.env.AMRCONV_HOUR_STREAM || path.join(repoRoot, 'build/web/streams/hour_mixed.wav'));
const screenshot = path.join(repoRoot, 'build/web/page.png');
// The README's words for the statuses of the damaged files.
const kStatusWords = { 12: /62-byte source header could not be read/, 14: /audio format tag is not 310/ };
const kTypes = { '.svg': 'image/svg+xml', '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };

// A static server for the built page on 127.0.0.1, recording every path asked for.
function serve(dir) {
  const asked = [];
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://127.0.0.1');
    asked.push(url.pathname);
    const file = path.join(dir, url.pathname === '/' ? 'index.html' : path.normalize(url.pathname));
    if (!file.startsWith(dir) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { 'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ server, asked })));
}

const files = path.join(workDir, 'page');
const downloads = path.join(workDir, 'downloads');
fs.rmSync(workDir + '/page', { recursive: true, force: true });
fs.rmSync(downloads, { recursive: true, force: true });
fs.mkdirSync(files, { recursive: true });
fs.mkdirSync(downloads, { recursive: true });

// The inputs: two conformance streams, a "#!AMR" file made from a third, and damaged files.
const streams = conformanceStreams();
const byName = (n) => streams.find((s) => s.name === n);
const inputs = [];
for (const n of ['speechlike_bad', 'mixed']) {
  fs.copyFileSync(byName(n).source, path.join(files, `${n}.wav`));
  inputs.push({ file: `${n}.wav`, status: 0 });
}
const mode3 = fs.readFileSync(byName('mode3').source);
fs.writeFileSync(path.join(files, 'mode3.amr'), Buffer.concat([Buffer.from('#!AMR\n'), mode3.subarray(62)]));
inputs.push({ file: 'mode3.amr', status: 0, storageOf: byName('mode3') });
for (const d of damagedInputs(byName('mixed').source).filter((x) => /short header|wrong-tag|cut short/.test(x.file))) {
  fs.writeFileSync(path.join(files, d.file), d.bytes);
  inputs.push({ file: d.file, status: d.status });
}

const { server, asked } = await serve(siteDir);
const origin = `http://127.0.0.1:${server.address().port}`;
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'amrconv-chromium-'));
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--no-first-run', `--user-data-dir=${profile}`,
         '--autoplay-policy=no-user-gesture-required'],
});

const foreign = [];
const pageErrors = [];
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1100, height: 900 });
  page.on('request', (req) => {
    const url = req.url();
    if (!url.startsWith(origin + '/') && !url.startsWith('blob:')) foreign.push(url);
  });
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  // A load that the page's content security policy refused shows up as a console error.
  page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });
  const cdp = await browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
  const finished = new Map();
  cdp.on('Browser.downloadWillBegin', (e) => finished.set(e.guid, { name: e.suggestedFilename }));
  cdp.on('Browser.downloadProgress', (e) => {
    if (e.state === 'completed' || e.state === 'canceled') finished.get(e.guid).state = e.state;
  });

  // Clicks a card's download link and waits for the file; returns its bytes.
  async function download(card, selector) {
    const name = await card.$eval(selector, (a) => a.download);
    const target = path.join(downloads, name);
    fs.rmSync(target, { force: true });
    const before = finished.size;
    await card.$eval(selector, (a) => a.click());
    const t0 = Date.now();
    while (Date.now() - t0 < 60000) {
      const done = [...finished.values()].slice(before).find((d) => d.name === name && d.state);
      if (done && done.state === 'completed' && fs.existsSync(target)) return fs.readFileSync(target);
      await new Promise((r) => setTimeout(r, 50));
    }
    throw new Error(`download of ${name} did not finish`);
  }

  async function openAndWait(paths, timeoutMs) {
    const already = await page.$$eval('.card', (c) => c.length);
    await (await page.$('#files')).uploadFile(...paths);
    await page.waitForFunction(
      (from, n) => {
        const cards = [...document.querySelectorAll('.card')].slice(from);
        return cards.length === n && cards.every((c) => c.dataset.state === 'done' || c.dataset.state === 'failed');
      }, { timeout: timeoutMs, polling: 100 }, already, paths.length);
    return (await page.$$('.card')).slice(already);
  }

  await page.goto(origin + '/', { waitUntil: 'load' });
  await check('page: the decoder loads', async () => {
    await page.waitForFunction(() => /ready/.test(document.getElementById('engine').textContent), { timeout: 30000 });
  });

  const cards = await openAndWait(inputs.map((i) => path.join(files, i.file)), 120000);
  for (const [i, input] of inputs.entries()) {
    const card = cards[i];
    await check(`page: "${input.file}" shows amrconv's status, message and frames; downloads equal amrconv's`, async () => {
      const state = await card.evaluate((c) => c.dataset.state);
      const shown = await card.evaluate((c) => ({
        status: c.querySelector('.failure').hidden ? '' : c.querySelector('.failure-status').textContent,
        message: c.querySelector('.failure-message').textContent,
        output: c.querySelector('.output-text').textContent,
        frames: [...c.querySelectorAll('.frames tr')].map((r) => r.textContent),
        header: [...c.querySelectorAll('.header-fields tr')].map((r) => r.textContent),
      }));
      expect(state === (input.status === 0 ? 'done' : 'failed'), `state ${state}`);
      if (!nativeAvailable()) return;
      const source = input.storageOf ? null : input.file;
      const decoded = source ? runNative(files, source, 'native/decoded.wav', 1) : null;
      const header = source ? runNative(files, source, 'native/header.amr', 2) : null;
      if (input.status !== 0) {
        expect(shown.status.includes(`status ${decoded.status}:`) && kStatusWords[decoded.status].test(shown.status),
               `status line "${shown.status}" for amrconv's ${decoded.status}`);
        // The message is what amrconv printed after the header's fields (if it read them).
        const message = decoded.stdout.replace(/^(?:.{38}:.*\n)*-{59}\n/, '').replace(/^\n+/, '');
        expect(masked(shown.message) === masked(message), `message "${shown.message}", amrconv's "${message}"`);
        expect(shown.message.includes(`(${input.file})`), 'the message does not name the file');
        expect(await card.$('.download-wav[href^="blob:"]') === null, 'a WAV download is offered');
        return;
      }
      expect(shown.status === '', `failure shown: ${shown.status}`);
      const wav = await download(card, '.download-wav');
      const amr = await download(card, '.download-amr');
      if (input.storageOf) {
        sameBytes(wav, fs.readFileSync(input.storageOf.expected), 'downloaded WAV');
        sameBytes(amr, fs.readFileSync(path.join(files, input.file)), 'downloaded AMR');
        return;
      }
      sameBytes(wav, decoded.bytes, 'downloaded WAV');
      sameBytes(amr, header.bytes, 'downloaded AMR');
      expect(masked(shown.output) === masked(decoded.stdout), 'shown program output differs from amrconv\'s');
      const tags = (decoded.stdout.match(/ B0 L\d+/g) || []).length;
      const cut = /Read Lenght/.test(decoded.stdout) ? 1 : 0;
      expect(shown.frames.some((row) => row === `All frames${(tags - cut).toLocaleString('en')}`),
             `frame rows ${JSON.stringify(shown.frames)}; amrconv read ${tags - cut}`);
      expect(shown.header.some((row) => row === 'AudioFormat310') && shown.header.length === 19,
             `header rows ${JSON.stringify(shown.header)}`);
    });
  }

  await check('page: play button plays, the waveform moves the play position by keyboard', async () => {
    const card = cards[0];
    const wave = await card.$('.wave');
    await wave.focus();
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('ArrowRight');
    const clock = await card.$eval('.clock', (c) => c.textContent);
    expect(clock.startsWith('0:02.00 / '), `clock after two right arrows: ${clock}`);
    const duration = await card.$eval('audio', (a) => new Promise((resolve) => {
      if (a.readyState >= 1) resolve(a.duration);
      else a.addEventListener('loadedmetadata', () => resolve(a.duration));
    }));
    const frames = await card.$eval('.frames tr:last-child td', (td) => Number(td.textContent.replace(/,/g, '')));
    expect(Math.abs(duration - frames * 0.02) < 0.05, `browser reads the WAV as ${duration} s, ${frames} frames`);
    await card.$eval('.play', (b) => b.click());
    await card.$eval('audio', (a) => new Promise((resolve) => (a.paused ? a.addEventListener('playing', resolve) : resolve())));
    const label = await card.$eval('.play', (b) => b.textContent);
    await card.$eval('.play', (b) => b.click());
    expect(label === 'Pause', `button while playing: ${label}`);
  });

  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: screenshot });
  await page.screenshot({ path: screenshot.replace(/\.png$/, '_full.png'), fullPage: true });

  if (!fs.existsSync(hourStream)) {
    skip('page: one-hour stream', `no ${hourStream}`);
  } else {
    await check('page: one-hour stream decodes like amrconv with a moving progress bar; speed measured', async () => {
      // Every value the new card's progress bar shows while the worker decodes.
      await page.evaluate(() => {
        window.progressSeen = [];
        new MutationObserver(() => {
          const bar = [...document.querySelectorAll('.card .progress')].pop();
          if (bar.closest('.card').dataset.state === 'working') window.progressSeen.push(bar.value / bar.max);
        }).observe(document.getElementById('results'), { subtree: true, childList: true, attributes: true });
      });
      const [card] = await openAndWait([hourStream], 600000);
      const why = await card.$eval('.failure', (f) => (f.hidden ? '' : f.textContent));
      expect(why === '', `not converted: ${why}`);
      const seen = await page.evaluate(() => window.progressSeen);
      expect(seen.filter((f) => f > 0.1 && f < 0.9).length >= 10, `progress values ${seen.slice(0, 20).join(' ')}`);
      const ms = Number(await card.evaluate((c) => c.dataset.decodeMs));
      const wav = await download(card, '.download-wav');
      const t0 = process.hrtime.bigint();
      const native = runNative(path.dirname(hourStream), path.basename(hourStream), 'native/hour_decoded.wav', 1);
      const nativeMs = Number(process.hrtime.bigint() - t0) / 1e6;
      sameBytes(wav, native.bytes, 'downloaded WAV of the hour');
      const frames = (wav.length - 62) / 320;
      // The job's own timing line: from the first frame read to the end of the input.
      const jobMs = Number(/TimeDiffernce\((\d+)\)/.exec(native.stdout)[1]);
      const times = (t) => `${Math.round((frames * 20) / t)} x real time`;
      console.log(`speed: ${frames} frames (${frames / 50} s) decoded in the browser in ${ms.toFixed(0)} ms, ` +
                  `${times(ms)}; native amrconv ${nativeMs.toFixed(0)} ms wall (${times(nativeMs)}), ` +
                  `of which its decode loop ${jobMs} ms (${times(jobMs)})`);
    });
  }

  await check('page: nothing fetched from or named outside the page\'s folder; no errors', () => {
    expect(foreign.length === 0, `requests elsewhere: ${foreign.join(', ')}`);
    expect(pageErrors.length === 0, `errors: ${pageErrors.join('; ')}`);
    const allowed = ['/', '/style.css', '/app.js', '/worker.js', '/amrconv.js', '/converter.js', '/amrconv.wasm', '/icon.svg'];
    const odd = asked.filter((p) => !allowed.includes(p));
    expect(odd.length === 0, `asked the server for ${odd.join(', ')}`);
    for (const f of fs.readdirSync(siteDir)) {
      const urls = fs.readFileSync(path.join(siteDir, f), 'latin1').match(/\b(https?|wss?|ftp):\/\/[^\s"'<>)]*/g) || [];
      const outside = urls.filter((u) => u !== 'http://www.w3.org/2000/svg');
      expect(outside.length === 0, `${f} names ${outside.join(', ')}`);
    }
  });
} finally {
  await browser.close();
  server.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
finish();
