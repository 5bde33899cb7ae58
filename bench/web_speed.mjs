// The browser build's decode job on the hour stream under Node, against the native program in
// the same run, alternated:
//   node bench/web_speed.mjs [RUNS] [SITE...]
// SITE: folders built by web/build.sh (default build/web/site); several are alternated, to
// compare two builds of the module. Prints each run and, per program, the best and median
// times real time, of wall time and of CPU time (on a machine loaded beyond its cores, wall time
// grows with the other work). The stream is build/release/bench/streams/hour_mixed.wav; the native
// program build/release/app/amrconv.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const runs = Number(process.argv[2] || 5);
const sites = process.argv.length > 3 ? process.argv.slice(3) : ['build/web/site'];
const stream = path.join(root, 'build/release/bench/streams/hour_mixed.wav');
const native = path.join(root, 'build/release/app/amrconv');
const { Converter } = require(path.join(root, 'web/converter.js'));

const source = new Uint8Array(fs.readFileSync(stream));
const programs = [];
for (const site of sites) {
  const dir = path.resolve(root, site);
  const factory = require(path.join(dir, 'amrconv.js'));
  const converter = await Converter.create(factory, { wasmBinary: fs.readFileSync(path.join(dir, 'amrconv.wasm')) });
  programs.push({
    name: `wasm ${site}`,
    run: () => {
      // The decode job alone, as the page runs it (converter.js): its own wall time, and the
      // process's CPU time around it.
      converter.m.FS.writeFile('hour_mixed.wav', source);
      const cpu0 = process.cpuUsage();
      const r = converter.runJob(1, 'hour_mixed.wav', 'out/hour_mixed_decoded.wav');
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
  programs.forEach((p, k) => {
    const { ms, cpuMs, frames: n } = p.run();
    hourFrames = n;
    times[k].push(ms);
    cpuTimes[k].push(cpuMs);
    console.log(`run ${i + 1}, ${p.name}: ${ms.toFixed(0)} ms wall (${Math.round((n * 20) / ms)}x real time), ` +
                `${cpuMs.toFixed(0)} ms CPU`);
  });
}
fs.rmSync(out, { force: true });
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
  console.log(`${p.name}, CPU: ${summary(cpuTimes[k])}`);
});
