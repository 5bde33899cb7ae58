// The page's worker: converts one file per message with the WebAssembly module, so that the
// page stays responsive during long recordings. Messages in: {id, name, buffer}. Messages out:
// {id, type: 'progress', phase, done, total}, {id, type: 'done', result} or
// {id, type: 'failed', message}.
/* global importScripts, createAmrconvModule, AmrConverter */
'use strict';
importScripts('amrconv.js', 'converter.js');

const kWaveColumns = 1200;
let converter = null;

function getConverter() {
  if (converter === null) converter = AmrConverter.Converter.create(createAmrconvModule, {});
  return converter;
}

getConverter().then(
  () => postMessage({ type: 'ready' }),
  (error) => postMessage({ type: 'unavailable', message: String(error) }));

self.onmessage = async (event) => {
  const { id, name, buffer } = event.data;
  try {
    const conv = await getConverter();
    const result = conv.convert(name, new Uint8Array(buffer), (p) =>
      postMessage({ id, type: 'progress', phase: p.phase, done: p.done, total: p.total }));
    const transfer = [];
    for (const job of [result.decode, result.header]) {
      delete job.output;  // the text is enough for the page
      if (job.bytes) transfer.push(job.bytes.buffer);
    }
    result.peaks = result.decode.bytes ? AmrConverter.wavePeaks(result.decode.bytes, kWaveColumns) : null;
    postMessage({ id, type: 'done', result }, transfer);
  } catch (error) {
    // A module that stopped in the middle of a job is not used again.
    converter = null;
    postMessage({ id, type: 'failed', message: String(error && error.message ? error.message : error) });
  }
};
