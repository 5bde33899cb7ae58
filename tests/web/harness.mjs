// Shared by the browser page's tests: a small pass/fail counter, the native amrconv runner and
// the inputs built for the tests.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const repoRoot = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const siteDir = process.env.AMRCONV_WEB_SITE || path.join(repoRoot, 'build/web/site');
export const amrconvPath = process.env.AMRCONV || path.join(repoRoot, 'build/release/app/amrconv');
export const workDir = path.join(repoRoot, 'build/web/test');

const counts = { passed: 0, failed: 0, skipped: 0 };

// Runs one named check: `body` throws (or returns a string) to fail it.
export async function check(name, body) {
  try {
    const problem = await body();
    if (typeof problem === 'string' && problem !== '') throw new Error(problem);
    counts.passed++;
    console.log(`ok   ${name}`);
  } catch (error) {
    counts.failed++;
    console.log(`FAIL ${name}: ${error && error.message ? error.message : error}`);
  }
}

export function skip(name, reason) {
  counts.skipped++;
  console.log(`skip ${name}: ${reason}`);
}

export function finish() {
  console.log(`${counts.passed} passed, ${counts.failed} failed, ${counts.skipped} skipped`);
  process.exitCode = counts.failed > 0 ? 1 : 0;
}

export function expect(condition, message) {
  if (!condition) throw new Error(message);
}

export function sameBytes(actual, expected, what) {
  const a = Buffer.from(actual.buffer, actual.byteOffset, actual.byteLength);
  if (a.equals(expected)) return;
  let i = 0;
  while (i < a.length && i < expected.length && a[i] === expected[i]) i++;
  throw new Error(`${what}: ${a.length} bytes against ${expected.length}, first difference at byte ${i}`);
}

// The jobs' text with what differs from run to run masked: the three times, and the error
// numbers (the conformance outputs were recorded elsewhere).
export function masked(text) {
  return text.replace(/Time\(\d+\)/g, 'Time(T)').replace(/TimeDiffernce\(\d+\)/g, 'TimeDiffernce(T)')
    .replace(/Error\(-?\d+\)/g, 'Error(E)');
}

export function latin1(buffer) {
  return Buffer.from(buffer).toString('latin1');
}

// Runs `amrconv SOURCE DESTINATION EVENT` in `dir`; returns its status, standard output and
// the destination's bytes (null when it was not written).
export function runNative(dir, source, destination, event) {
  fs.mkdirSync(path.join(dir, path.dirname(destination)), { recursive: true });
  fs.rmSync(path.join(dir, destination), { force: true });
  const run = spawnSync(amrconvPath, [source, destination, String(event)],
                        { cwd: dir, stdio: ['ignore', 'pipe', 'pipe'], maxBuffer: 1 << 28 });
  if (run.error) throw run.error;
  const out = path.join(dir, destination);
  return {
    status: run.status,
    stdout: latin1(run.stdout),
    bytes: fs.existsSync(out) ? fs.readFileSync(out) : null,
  };
}

export function nativeAvailable() {
  return fs.existsSync(amrconvPath);
}

// Conformance streams: the repository's copies in tests/data/conformance.
// Each has NAME.wav, the expected decoded file and the expected standard output.
export function conformanceStreams() {
  const streams = new Map();
  const local = path.join(repoRoot, 'tests/data/conformance');
  for (const f of fs.readdirSync(local)) {
    const m = /^(.*)\.wav$/.exec(f);
    if (!m || f.endsWith('.out.wav')) continue;
    streams.set(m[1], { name: m[1], source: path.join(local, f),
                        expected: path.join(local, `${m[1]}.out.wav`),
                        stdout: path.join(local, `${m[1]}.stdout.txt`) });
  }
  return [...streams.values()].sort((a, b) => a.name.localeCompare(b.name));
}

// Damaged and unusual inputs, made from a conformance stream: each one exercises a path of the
// jobs that the page must report as amrconv does.
export function damagedInputs(streamPath) {
  const good = fs.readFileSync(streamPath);
  const wrongTag = Buffer.from(good);
  wrongTag.writeUInt16LE(1, 20);
  const invalidInside = Buffer.concat([good.subarray(0, 62 + 13 * 3), Buffer.from([12 << 3]),
                                       good.subarray(62 + 13 * 3)]);
  let seed = 7;
  const noise = Buffer.alloc(3000, 0).map(() => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24);
  return [
    { file: 'short header.wav', bytes: good.subarray(0, 40), status: 12 },
    { file: 'wrong-tag.wav', bytes: wrongTag, status: 14 },
    { file: 'cut short.wav', bytes: good.subarray(0, good.length - 5), status: 0 },
    { file: 'invalid type inside.wav', bytes: invalidInside, status: 0 },
    { file: 'noise after header.wav', bytes: Buffer.concat([good.subarray(0, 62), noise]), status: 0 },
    { file: 'empty.wav', bytes: Buffer.alloc(0), status: 12 },
  ];
}

// Count of frames by the size that the frame reader printed for each (" B0 L<size>"), from the
// program's own text; a frame cut short at the end is printed too but not handled.
export function framesBySize(text) {
  const bySize = new Map();
  for (const m of text.matchAll(/ B0 L(\d+)/g)) bySize.set(+m[1], (bySize.get(+m[1]) || 0) + 1);
  return bySize;
}

export const kFrameSizes = [13, 14, 16, 18, 20, 21, 27, 32, 6, 32, 0, 0, 0, 0, 0, 1];
