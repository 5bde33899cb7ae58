// Runs the converter's jobs in the WebAssembly module on one file at a time, in memory.
// Used by the page's worker (worker.js) and by the Node test of the module.
//
// For each file: the source is written to the module's in-memory file system under the file's
// own name, so the jobs' messages name it as `amrconv NAME out/BASE_decoded.wav 1` would; the
// container reader surveys it (header text, frames by type); then the decode job and the header
// job run, each with its standard output captured byte for byte.
(function (root) {
  'use strict';

  const kStorageMagic = [0x23, 0x21, 0x41, 0x4d, 0x52, 0x0a]; // "#!AMR\n"
  const kSurveyWords = 20;
  const kSecondsPerFrame = 0.02;
  const kDot = 0x2e;

  // Growable byte buffer that receives the module's standard output one byte at a time.
  class ByteSink {
    constructor() {
      this.bytes = new Uint8Array(1 << 16);
      this.length = 0;
      this.dots = 0;
      this.onDot = null;
    }
    reset(onDot) {
      this.length = 0;
      this.dots = 0;
      this.onDot = onDot || null;
    }
    push(byte) {
      if (this.length === this.bytes.length) {
        const grown = new Uint8Array(this.bytes.length * 2);
        grown.set(this.bytes);
        this.bytes = grown;
      }
      this.bytes[this.length++] = byte;
      // The jobs print one "." per frame handled: the progress count.
      if (byte === kDot && this.onDot !== null && (++this.dots & 1023) === 0) this.onDot(this.dots);
    }
    take() {
      return this.bytes.slice(0, this.length);
    }
  }

  // A file name as a path in the job folder: no folder separators, not too long.
  function safeName(name) {
    let safe = String(name || '').replace(/[\/\\\u0000]/g, '_');
    if (safe === '' || safe === '.' || safe === '..') safe = 'recording';
    if (safe.length > 120) {
      const dot = safe.lastIndexOf('.');
      const ext = dot > 0 && safe.length - dot <= 8 ? safe.slice(dot) : '';
      safe = safe.slice(0, 120 - ext.length) + ext;
    }
    return safe;
  }

  function baseName(name) {
    const dot = name.lastIndexOf('.');
    return dot > 0 ? name.slice(0, dot) : name;
  }

  function isStorageFile(bytes) {
    return bytes.length >= kStorageMagic.length && kStorageMagic.every((b, i) => bytes[i] === b);
  }

  function latin1(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192) {
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    }
    return text;
  }

  // Minimum and maximum sample per column of a waveform drawing, from a decoded WAV file
  // (16-bit little-endian samples after its 62-byte header).
  function wavePeaks(wav, columns) {
    const samples = Math.max(0, (wav.length - 62) >> 1);
    const view = new DataView(wav.buffer, wav.byteOffset, wav.byteLength);
    const peaks = new Int16Array(columns * 2);
    for (let c = 0; c < columns && samples > 0; c++) {
      const from = Math.floor((c * samples) / columns);
      const to = Math.max(from + 1, Math.floor(((c + 1) * samples) / columns));
      let lo = 32767;
      let hi = -32768;
      for (let i = from; i < to; i++) {
        const s = view.getInt16(62 + 2 * i, true);
        if (s < lo) lo = s;
        if (s > hi) hi = s;
      }
      peaks[2 * c] = lo;
      peaks[2 * c + 1] = hi;
    }
    return peaks;
  }

  class Converter {
    // `module`: an instance made by createAmrconvModule with `sink` as its standard output.
    constructor(module, sink) {
      this.m = module;
      this.sink = sink;
      const FS = module.FS;
      if (!FS.analyzePath('/job').exists) FS.mkdir('/job');
      if (!FS.analyzePath('/job/out').exists) FS.mkdir('/job/out');
      if (!FS.analyzePath('/job/raw').exists) FS.mkdir('/job/raw');
      FS.chdir('/job');
      // The in-memory file system grows a file by an eighth at a time, copying it each time;
      // the decoded WAV file of an hour is 57.6 MB. Doubling copies it a few times only, and a
      // job's destination whose size is known beforehand (runJob's `expectedBytes`) gets it at
      // its first growth: one allocation and no copy.
      this.sizeHint = null;
      const memfs = FS.filesystems && FS.filesystems.MEMFS;
      if (memfs && typeof memfs.expandFileStorage === 'function') {
        const expand = memfs.expandFileStorage;
        memfs.expandFileStorage = (node, capacity) => {
          const previous = node.contents ? node.contents.length : 0;
          if (previous >= capacity) return;
          const grown = Math.max(capacity, 2 * previous);
          const hint = this.sizeHint;
          if (hint !== null && hint.bytes > grown && FS.getPath(node) === hint.path) {
            this.sizeHint = null;  // one try: a size the browser cannot give grows as before
            try {
              expand(node, hint.bytes);
              return;
            } catch (error) {
              if (!(error instanceof RangeError)) throw error;
            }
          }
          expand(node, grown);
        };
      }
    }

    // Makes a converter. `factory` is createAmrconvModule; `options` go to it (wasmBinary,
    // locateFile).
    static async create(factory, options) {
      const sink = new ByteSink();
      const module = await factory(Object.assign({}, options, {
        noInitialRun: true,
        preRun: [(m) => m.FS.init(null, (b) => { if (b !== null) sink.push(b); }, null)],
        print: () => {},
        printErr: () => {},
      }));
      return new Converter(module, sink);
    }

    // Runs one job. `expectedBytes`, when given, is the size the destination will likely reach:
    // its storage is taken at once.
    runJob(eventType, source, destination, onDot, expectedBytes) {
      this.sink.reset(onDot);
      const FS = this.m.FS;
      if (expectedBytes > 0) {
        const path = destination.startsWith('/') ? destination : FS.cwd() + '/' + destination;
        this.sizeHint = { path, bytes: expectedBytes };
      }
      const t0 = now();
      let status;
      try {
        status = this.m.ccall('amrweb_run_job', 'number', ['number', 'string', 'string'],
                              [eventType, source, destination]);
      } finally {
        this.sizeHint = null;
      }
      const ms = now() - t0;
      const output = this.sink.take();
      let bytes = null;
      if (FS.analyzePath(destination).exists) {
        bytes = FS.readFile(destination);
        FS.unlink(destination);
      }
      return { status, output, text: latin1(output), bytes, ms };
    }

    survey(source) {
      const ptr = this.m._malloc(kSurveyWords * 4);
      this.sink.reset(null);
      const status = this.m.ccall('amrweb_survey', 'number', ['string', 'number'], [source, ptr]);
      const words = Array.from(this.m.HEAPU32.subarray(ptr >> 2, (ptr >> 2) + kSurveyWords));
      this.m._free(ptr);
      const text = latin1(this.sink.take());
      // The header reader's lines end with a line of dashes; what follows is the frames' text.
      const dashes = text.indexOf('-----------------------------------------------------------\n');
      return {
        headerStatus: status,
        headerText: dashes >= 0 ? text.slice(0, dashes + 60) : '',
        frames: words[1],
        byType: words.slice(2, 18),
        damaged: words[18],
        tailBytes: words[19],
      };
    }

    // Converts one file. `onProgress({phase, done, total})` is called now and then during the
    // decode job. Returns everything the page shows and offers for download.
    convert(name, bytes, onProgress) {
      const FS = this.m.FS;
      const source = safeName(name);
      const base = baseName(source);
      const wavName = 'out/' + base + '_decoded.wav';
      // A "#!AMR" source keeps its own name; its copy gets another.
      const amrName = 'out/' + base + (base + '.amr' === source ? '_copy.amr' : '.amr');
      const storage = isStorageFile(bytes);
      try {
        if (storage) {
          FS.writeFile('raw/' + source, bytes);
          this.m.ccall('amrweb_wrap_storage_file', 'number', ['string', 'string'],
                       ['raw/' + source, source]);
          FS.unlink('raw/' + source);
        } else {
          FS.writeFile(source, bytes);
        }
        const survey = this.survey(source);
        const total = survey.frames;
        const progress = (phase) => (done) => {
          if (onProgress) onProgress({ phase, done: Math.min(done, total), total });
        };
        if (onProgress) onProgress({ phase: 'decode', done: 0, total });
        // The decoded file: the 62-byte header and 320 bytes for each frame.
        const decode = this.runJob(1, source, wavName, progress('decode'), 62 + 320 * total);
        if (onProgress) onProgress({ phase: 'header', done: 0, total });
        const header = this.runJob(2, source, amrName, progress('header'));
        return {
          name: String(name),
          source,
          wavName: wavName.slice(4),
          amrName: amrName.slice(4),
          kind: storage ? 'storage' : 'wave',
          survey,
          durationSeconds: survey.frames * kSecondsPerFrame,
          decode,
          header,
        };
      } finally {
        if (FS.analyzePath(source).exists) FS.unlink(source);
      }
    }
  }

  function now() {
    return typeof performance !== 'undefined' ? performance.now() : Date.now();
  }

  const api = { Converter, wavePeaks, safeName, isStorageFile };
  if (typeof module !== 'undefined' && module.exports) module.exports = api;
  else root.AmrConverter = api;
})(typeof self !== 'undefined' ? self : this);
