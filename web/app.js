// The page: sends each chosen or dropped file to the worker, then shows what amrconv's jobs
// made of it: the header's fields, the frames by type, the duration, a waveform, a play button,
// the two downloads, or the program's message and status when the file cannot be converted.
'use strict';
(() => {
  // What each status of the jobs means, in words (amrconv's exit codes).
  const kStatusWords = {
    0: 'finished: the whole source was converted',
    3: 'the source or the destination could not be opened',
    6: 'writing the "#!AMR" magic or a frame failed',
    10: 'the decoder reported an error',
    12: 'the 62-byte source header could not be read (the file is shorter than that)',
    13: 'writing the provisional WAV header failed',
    14: 'the source\'s audio format tag is not 310: it is not an AMR-in-WAV recording',
    15: 'a frame type without frames was read where a frame was expected',
    16: 'decoder memory could not be allocated or the final WAV header could not be written',
  };
  const kModeNames = ['4.75', '5.15', '5.90', '6.70', '7.40', '7.95', '10.2', '12.2'];
  const kSampleRate = 8000;

  const results = document.getElementById('results');
  const empty = document.getElementById('empty');
  const engine = document.getElementById('engine');
  const template = document.getElementById('card-template');
  const cards = new Map();
  let nextId = 1;

  const worker = new Worker('worker.js');
  worker.onmessage = (event) => {
    const msg = event.data;
    if (msg.type === 'ready') {
      engine.textContent = 'Decoder ready (WebAssembly, running on this computer).';
    } else if (msg.type === 'unavailable') {
      engine.textContent = 'The decoder could not be started in this browser: ' + msg.message;
    } else {
      const card = cards.get(msg.id);
      if (!card) return;
      if (msg.type === 'progress') showProgress(card, msg);
      else if (msg.type === 'done') showResult(card, msg.result);
      else if (msg.type === 'failed') showBreakdown(card, msg.message);
    }
  };
  worker.onerror = (event) => {
    engine.textContent = 'The decoder stopped: ' + (event.message || 'unknown error');
  };

  function part(card, selector) {
    return card.el.querySelector(selector);
  }

  function formatTime(seconds) {
    const whole = Math.floor(seconds);
    const h = Math.floor(whole / 3600);
    const m = Math.floor((whole % 3600) / 60);
    const s = (seconds - h * 3600 - m * 60).toFixed(2).padStart(5, '0');
    return (h > 0 ? h + ':' + String(m).padStart(2, '0') : String(m)) + ':' + s;
  }

  function formatCount(n) {
    return n.toLocaleString('en');
  }

  function openFiles(fileList) {
    for (const file of fileList) {
      const id = nextId++;
      const el = template.content.firstElementChild.cloneNode(true);
      const card = { id, el, file, audio: null, urls: [] };
      cards.set(id, card);
      part(card, '.name').textContent = file.name;
      results.appendChild(el);
      empty.hidden = true;
      file.arrayBuffer().then(
        (buffer) => worker.postMessage({ id, name: file.name, buffer }, [buffer]),
        (error) => showBreakdown(card, 'the file could not be read: ' + error));
    }
  }

  function showProgress(card, msg) {
    card.el.dataset.state = 'working';
    const bar = part(card, '.progress');
    const label = msg.phase === 'decode' ? 'Decoding' : 'Writing the AMR file';
    bar.max = Math.max(1, msg.total);
    bar.value = msg.phase === 'decode' ? msg.done : msg.total;
    const percent = Math.floor((100 * bar.value) / bar.max);
    part(card, '.progress-text').textContent = `${label}: ${percent}% of ${formatCount(msg.total)} frames`;
  }

  function showBreakdown(card, message) {
    card.el.dataset.state = 'failed';
    part(card, '.progress-row').hidden = true;
    part(card, '.outcome').hidden = false;
    part(card, '.failure').hidden = false;
    part(card, '.failure-status').textContent = 'The page could not convert this file.';
    part(card, '.failure-message').textContent = message;
  }

  // The text amrconv printed after its last frame (or after the header's fields when it read
  // no frame), without the timing lines: its closing messages, such as the reason it stopped.
  function closingMessages(text, headerText) {
    let rest = headerText && text.startsWith(headerText) ? text.slice(headerText.length) : text;
    const tags = [...rest.matchAll(/ B-?\d+ L\d+/g)];
    if (tags.length > 0) {
      const last = tags[tags.length - 1];
      rest = rest.slice(last.index + last[0].length);
      if (rest.startsWith('.')) rest = rest.slice(1);  // the job's mark of the frame handled
    }
    rest = rest.replace(/\nStartReading\.\.Time\(\d+\)\n|\nStop Reading\.\.Time\(\d+\)\n|\nTimeDiffernce\(\d+\)/g, '');
    return rest.replace(/^\n+/, '');
  }

  function showResult(card, r) {
    card.result = r;
    const decode = r.decode;
    part(card, '.progress-row').hidden = true;
    part(card, '.outcome').hidden = false;
    part(card, '.output-text').textContent = shortened(decode.text);
    const messages = closingMessages(decode.text, r.survey.headerText);
    if (decode.status !== 0 || !decode.bytes) {
      card.el.dataset.state = 'failed';
      part(card, '.failure').hidden = false;
      const words = kStatusWords[decode.status] || 'the conversion stopped';
      part(card, '.failure-status').textContent =
        `amrconv stops with status ${decode.status}: ${words}.`;
      part(card, '.failure-message').textContent = messages;
      if (!decode.bytes) return;
    }
    card.el.dataset.state = decode.status === 0 ? 'done' : 'failed';
    part(card, '.decoded').hidden = false;
    const seconds = r.durationSeconds;
    showDownloads(card, r);
    part(card, '.speed').textContent =
      `${formatTime(seconds)} of speech in ${formatCount(r.survey.frames)} frames, decoded in ` +
      `${(decode.ms / 1000).toFixed(2)} s: ` +
      `${formatCount(Math.round(seconds / (decode.ms / 1000)))} × real time.`;
    card.el.dataset.decodeMs = String(decode.ms);
    showNotes(card, r);
    showFrameTable(card, r.survey);
    showHeaderTable(card, r);
    setUpPlayer(card, r, seconds);
  }

  function shortened(text) {
    const kKeep = 20000;
    if (text.length <= 2 * kKeep) return text;
    return text.slice(0, kKeep) + `\n… (${formatCount(text.length - 2 * kKeep)} characters left out) …\n` +
           text.slice(-kKeep);
  }

  function showDownloads(card, r) {
    const links = [
      ['.download-wav', r.decode, r.wavName, 'audio/wav'],
      ['.download-amr', r.header, r.amrName, 'audio/amr'],
    ];
    for (const [selector, job, name, type] of links) {
      const a = part(card, selector);
      if (!job.bytes || job.status !== 0) {
        a.hidden = true;
        continue;
      }
      const url = URL.createObjectURL(new Blob([job.bytes], { type }));
      card.urls.push(url);
      a.href = url;
      a.download = name;
      a.textContent = `Download ${name} (${formatCount(job.bytes.length)} bytes)`;
    }
  }

  function plural(n, word) {
    return `${formatCount(n)} ${word}${n === 1 ? '' : 's'}`;
  }

  function showNotes(card, r) {
    const s = r.survey;
    const notes = [];
    if (r.kind === 'storage') {
      notes.push('A "#!AMR" storage file: its frames are read as amrconv reads the frames of an AMR-in-WAV file.');
    }
    const concealed = s.damaged + s.byType.slice(9, 15).reduce((a, b) => a + b, 0);
    if (concealed > 0) {
      notes.push(`${plural(concealed, 'damaged or invalid frame')} concealed by the decoder.`);
    }
    if (s.tailBytes > 0) {
      notes.push(`The last frame is cut short (${plural(s.tailBytes, 'byte')}); amrconv drops it.`);
    }
    part(card, '.notes').textContent = notes.join(' ');
  }

  function showFrameTable(card, s) {
    const rows = [];
    s.byType.forEach((count, type) => {
      if (count === 0) return;
      let label;
      if (type < 8) label = `Speech, ${kModeNames[type]} kbit/s (type ${type})`;
      else if (type === 8) label = 'SID, comfort noise (type 8)';
      else if (type === 15) label = 'No data (type 15)';
      else label = `Type ${type}: no speech, concealed as a bad frame`;
      rows.push([label, count]);
    });
    rows.push(['Damaged (quality bit 0), among the above', s.damaged]);
    rows.push(['All frames', s.frames]);
    const body = part(card, '.frames tbody');
    body.replaceChildren(...rows.map(([label, count]) => tableRow(label, formatCount(count))));
  }

  function showHeaderTable(card, r) {
    const body = part(card, '.header-fields tbody');
    if (r.kind === 'storage') {
      part(card, '.header-fields caption').textContent = 'Source header';
      body.replaceChildren(tableRow('none', '"#!AMR" storage file'));
      return;
    }
    // The header reader prints each field as a 38-character label, a colon and the value.
    const rows = r.survey.headerText.split('\n')
      .filter((line) => line.length > 39 && line[38] === ':')
      .map((line) => tableRow(line.slice(0, 38).trim(), line.slice(39)));
    body.replaceChildren(...rows);
  }

  function tableRow(label, value) {
    const tr = document.createElement('tr');
    const th = document.createElement('th');
    th.scope = 'row';
    th.textContent = label;
    const td = document.createElement('td');
    td.textContent = value;
    tr.append(th, td);
    return tr;
  }

  // Waveform with a play position; the button plays the decoded WAV file.
  function setUpPlayer(card, r, seconds) {
    const canvas = part(card, '.wave');
    const button = part(card, '.play');
    const clock = part(card, '.clock');
    // The waveform is also the play position's slider: arrow keys move it by a second.
    canvas.setAttribute('aria-label', `Play position in the waveform of ${r.name}`);
    canvas.setAttribute('aria-valuemax', seconds.toFixed(2));
    const audio = document.createElement('audio');
    card.audio = audio;
    canvas.after(audio);
    audio.preload = 'metadata';
    audio.src = part(card, '.download-wav').href;
    let position = 0;
    const draw = () => drawWave(canvas, r.peaks, seconds > 0 ? position / seconds : 0);
    const tick = () => {
      position = audio.currentTime;
      clock.textContent = `${formatTime(position)} / ${formatTime(seconds)}`;
      canvas.setAttribute('aria-valuenow', position.toFixed(2));
      canvas.setAttribute('aria-valuetext', `${formatTime(position)} of ${formatTime(seconds)}`);
      draw();
      if (!audio.paused) requestAnimationFrame(tick);
    };
    const seek = (to) => {
      position = Math.min(Math.max(0, to), seconds);
      audio.currentTime = position;
      tick();
    };
    button.addEventListener('click', () => {
      // A pause during the start of playing rejects the play request; that is no failure.
      if (audio.paused) {
        audio.play().catch((e) => { if (e.name !== 'AbortError') clock.textContent = 'Cannot play: ' + e.message; });
      }
      else audio.pause();
    });
    audio.addEventListener('play', () => { button.textContent = 'Pause'; tick(); });
    audio.addEventListener('pause', () => { button.textContent = 'Play'; tick(); });
    audio.addEventListener('ended', () => { button.textContent = 'Play'; });
    canvas.addEventListener('click', (e) => {
      const box = canvas.getBoundingClientRect();
      seek(((e.clientX - box.left) / box.width) * seconds);
    });
    canvas.addEventListener('keydown', (e) => {
      const steps = { ArrowLeft: -1, ArrowRight: 1, PageDown: -10, PageUp: 10 };
      if (e.key in steps) seek(position + steps[e.key]);
      else if (e.key === 'Home') seek(0);
      else if (e.key === 'End') seek(seconds);
      else if (e.key === ' ' || e.key === 'Enter') button.click();
      else return;
      e.preventDefault();
    });
    tick();
  }

  function drawWave(canvas, peaks, played) {
    const ctx = canvas.getContext('2d');
    const w = canvas.width;
    const h = canvas.height;
    const style = getComputedStyle(canvas);
    ctx.fillStyle = style.backgroundColor;
    ctx.fillRect(0, 0, w, h);
    if (!peaks) return;
    const columns = peaks.length / 2;
    const mid = h / 2;
    // Scaled to the loudest sample, so that quiet recordings show their shape too.
    let loudest = 1;
    for (const v of peaks) loudest = Math.max(loudest, Math.abs(v));
    const scale = (h / 2 - 2) / loudest;
    for (let c = 0; c < columns; c++) {
      const x = (c / columns) * w;
      ctx.fillStyle = c / columns < played ? style.getPropertyValue('--played') : style.color;
      const top = mid - peaks[2 * c + 1] * scale;
      const bottom = mid - peaks[2 * c] * scale;
      ctx.fillRect(x, top, Math.max(1, w / columns), Math.max(1, bottom - top));
    }
    ctx.fillStyle = style.getPropertyValue('--cursor');
    ctx.fillRect(Math.min(w - 2, played * w), 0, 2, h);
  }

  document.getElementById('files').addEventListener('change', (e) => {
    openFiles(e.target.files);
    e.target.value = '';
  });
  const drop = document.getElementById('drop');
  // A file dropped anywhere on the page is opened, not navigated to.
  document.addEventListener('dragover', (e) => {
    e.preventDefault();
    drop.classList.add('over');
  });
  document.addEventListener('dragleave', (e) => {
    if (e.relatedTarget === null) drop.classList.remove('over');
  });
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    if (e.dataTransfer && e.dataTransfer.files.length > 0) openFiles(e.dataTransfer.files);
  });
})();
