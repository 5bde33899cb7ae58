// The WebAssembly module alone, under Node, through the same converter code the page's worker
// uses: bit-exact decoding of every conformance stream, the jobs' text and statuses, the frame
// survey against the program's own frame lines, "#!AMR" files, and damaged files against the
// native amrconv.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import {
  check, skip, finish, expect, sameBytes, masked, latin1, runNative, nativeAvailable,
  conformanceStreams, damagedInputs, framesBySize, kFrameSizes, siteDir, workDir, repoRoot,
} from './harness.mjs';

const require = createRequire(import.meta.url);
const createAmrconvModule = require(path.join(siteDir, 'amrconv.js'));
const { Converter } = require(path.join(repoRoot, 'web/converter.js'));

// The survey's counts by type, summed by frame size, must match the sizes the frame reader
// printed while the decode job read the same file.
function surveyMatchesText(survey, text) {
  const printed = framesBySize(text);
  const fromSurvey = new Map();
  survey.byType.forEach((n, type) => {
    if (n > 0) fromSurvey.set(kFrameSizes[type], (fromSurvey.get(kFrameSizes[type]) || 0) + n);
  });
  if (survey.tailBytes > 0) {
    // The cut-short frame's line is printed but the frame is not counted.
    const sizes = [...text.matchAll(/ B0 L(\d+)/g)];
    const last = +sizes[sizes.length - 1][1];
    fromSurvey.set(last, (fromSurvey.get(last) || 0) + 1);
  }
  for (const [size, n] of new Map([...printed, ...fromSurvey])) {
    expect((printed.get(size) || 0) === (fromSurvey.get(size) || 0),
           `frames of ${size} bytes: survey ${fromSurvey.get(size) || 0}, program ${printed.get(size) || 0}`);
  }
}

const converter = await Converter.create(createAmrconvModule,
                                         { wasmBinary: fs.readFileSync(path.join(siteDir, 'amrconv.wasm')) });
const streams = conformanceStreams();
expect(streams.length >= 14, `only ${streams.length} conformance streams found`);

for (const s of streams) {
  await check(`conformance ${s.name}: WAV, AMR, text and survey`, () => {
    const source = fs.readFileSync(s.source);
    const r = converter.convert(`${s.name}.wav`, new Uint8Array(source));
    expect(r.decode.status === 0 && r.header.status === 0,
           `statuses ${r.decode.status} and ${r.header.status}`);
    sameBytes(r.decode.bytes, fs.readFileSync(s.expected), 'decoded WAV');
    // Conformance streams hold whole frames only: the AMR file is the magic and every byte after
    // the 62-byte header.
    sameBytes(r.header.bytes, Buffer.concat([Buffer.from('#!AMR\n'), source.subarray(62)]), 'AMR file');
    const expected = masked(fs.readFileSync(s.stdout, 'latin1'));
    // The expected text was recorded as `amrconv in.wav out.wav 1`.
    const actual = masked(r.decode.text).replace(`(${s.name}.wav)`, '(in.wav)');
    expect(actual === expected, 'standard output differs from the recorded one');
    expect(r.survey.frames * 320 === r.decode.bytes.length - 62, 'survey frame count against the WAV size');
    surveyMatchesText(r.survey, r.decode.text);
  });
}

await check('"#!AMR" storage file: decoded like the AMR-in-WAV stream it came from', () => {
  const s = streams.find((x) => x.name === 'mixed');
  const source = fs.readFileSync(s.source);
  const storage = Buffer.concat([Buffer.from('#!AMR\n'), source.subarray(62)]);
  const r = converter.convert('mixed.amr', new Uint8Array(storage));
  expect(r.kind === 'storage', `kind ${r.kind}`);
  sameBytes(r.decode.bytes, fs.readFileSync(s.expected), 'decoded WAV');
  sameBytes(r.header.bytes, storage, 'AMR file');
  expect(r.amrName !== r.source, 'the AMR download would replace the source');
});

await check('decode job: a destination size the browser cannot give grows as it writes instead', () => {
  const s = streams.find((x) => x.name === 'mixed');
  converter.m.FS.writeFile('big.wav', fs.readFileSync(s.source));
  const r = converter.runJob(1, 'big.wav', 'out/big.wav', null, 2 ** 53);
  converter.m.FS.unlink('big.wav');
  expect(r.status === 0, `status ${r.status}`);
  sameBytes(r.bytes, fs.readFileSync(s.expected), 'decoded WAV');
});

if (!nativeAvailable()) {
  skip('damaged files against amrconv', 'no native amrconv (set AMRCONV or build build/release)');
} else {
  const dir = path.join(workDir, 'wasm');
  fs.mkdirSync(dir, { recursive: true });
  for (const input of damagedInputs(streams.find((x) => x.name === 'mixed').source)) {
    await check(`damaged "${input.file}": status, text and files as amrconv's`, () => {
      fs.writeFileSync(path.join(dir, input.file), input.bytes);
      const r = converter.convert(input.file, new Uint8Array(input.bytes));
      for (const [job, event, dest] of [[r.decode, 1, `out/${r.wavName}`], [r.header, 2, `out/${r.amrName}`]]) {
        const native = runNative(dir, input.file, dest, event);
        expect(job.status === native.status, `event ${event}: status ${job.status}, amrconv ${native.status}`);
        expect(job.status === input.status, `event ${event}: status ${job.status}, wanted ${input.status}`);
        expect(masked(job.text) === masked(native.stdout), `event ${event}: text differs from amrconv's`);
        expect((job.bytes === null) === (native.bytes === null), `event ${event}: destination written by one only`);
        if (native.bytes) sameBytes(job.bytes, native.bytes, `event ${event} file`);
      }
      if (r.survey.headerStatus === 0) surveyMatchesText(r.survey, r.decode.text);
    });
  }
}

await check('file names: separators replaced, long names shortened, outputs beside no source', () => {
  const bytes = fs.readFileSync(streams[0].source);
  const r = converter.convert('calls/2024/' + 'x'.repeat(300) + '.wav', new Uint8Array(bytes));
  expect(r.decode.status === 0, `status ${r.decode.status}`);
  expect(!r.source.includes('/') && r.source.length <= 120 && r.source.endsWith('.wav'), `source ${r.source}`);
  expect(latin1(r.decode.bytes.subarray(0, 4)) === 'RIFF', 'no WAV file');
  expect(converter.m.FS.readdir('/job').every((f) => ['.', '..', 'out', 'raw'].includes(f)) &&
         converter.m.FS.readdir('/job/out').length === 2, 'files left in the in-memory folder');
});

finish();
