// The page: opens a file, hands it to the codec in a worker, shows what comes
// back. Nothing leaves the machine: the codec (daz-codec.js, with its
// WebAssembly inside) runs in a worker made from its own text, so the page
// works from a folder (file://) as from a server, and a big conversion never
// freezes the page; a file opened while one runs ends that worker.
'use strict';

// Runs in the worker: createDazCodec is the codec's factory. Each job asks
// the library the file's format, copies the file into the module, runs the
// library's calls and sends the results back as transferable buffers.
function codecWorker(createDazCodec) {
  const FAILURE_BMP = 1; // the message kinds of web_failure_line: orvx -c and pngdaz 0
  const FAILURE_PNG = 2;
  const FAILURE_REDUCE = 3; // rgbdaz's, and its palette file's
  const FAILURE_PALETTE = 4;
  let codec = null;
  let DAZ = null; // daz.h's names and numbers, from the module
  let memoryLines = [];
  let head = 0; // where a file's first bytes go for the library's guess
  let formats = []; // the library's, as daz_format_at gives them
  const ready = createDazCodec().then((module) => {
    codec = module;
    DAZ = constantsOf(module);
    memoryLines = [0, 1, 2].map((kind) => failureLine(kind, DAZ.DAZ_ERR_MEMORY));
    head = codec._malloc(DAZ.DAZ_GUESS_BYTES);
    formats = formatsOf(module);
    self.postMessage({ formats });
  });

  // The formats this build of the library knows, with what it does with
  // each: the page lists and routes by these alone.
  function formatsOf(module) {
    const known = [];
    for (let i = 0; module._web_format_at(i) === 0; ++i) {
      const text = (field) => module.UTF8ToString(module._web_format_text(field));
      const [format, flags] = [module._web_format_number(), module._web_format_flags()];
      known.push({ format, flags, name: text(0), extensions: text(1).split(' ').filter(Boolean),
                   mime: text(2),
                   converts: format !== DAZ.DAZ_FORMAT_DAZ && (flags & DAZ.DAZ_FORMAT_CONVERTS) !== 0,
                   loads: (flags & DAZ.DAZ_FORMAT_LOADS) !== 0 });
    }
    return known;
  }

  // Whether the library reads the format itself (with its indices kept or
  // as pixels); anything else is the browser's to decode.
  function libraryReads(format) {
    const known = formats.find((entry) => entry.format === format);
    return known !== undefined && (known.converts || known.loads);
  }

  // The library's results and formats by their names in daz.h, as the
  // module was built with them: a name it doesn't have is this script's
  // mistake, and fails loudly rather than as undefined.
  function constantsOf(module) {
    const table = {};
    for (let i = 0; i < module._web_constant_count(); ++i) {
      table[module.UTF8ToString(module._web_constant_name(i))] = module._web_constant_value(i);
    }
    return new Proxy(Object.freeze(table), {
      get(known, name) {
        if (!(name in known)) {
          throw new Error('libdaz has no ' + String(name));
        }
        return known[name];
      },
    });
  }

  // The file's format, as the library tells it from the first bytes.
  async function formatOf(file) {
    const bytes = new Uint8Array(await file.slice(0, DAZ.DAZ_GUESS_BYTES).arrayBuffer());
    codec.HEAPU8.set(bytes, head);
    return codec._web_guess_format(head, bytes.length);
  }

  // The commands' line for a failure; format (a daz_format) for the lines
  // that name it.
  function failureLine(kind, error, format = DAZ.DAZ_FORMAT_UNKNOWN) {
    return codec.UTF8ToString(codec._web_failure_line(kind, error, format));
  }

  function output() {
    const at = codec._web_output();
    return codec.HEAPU8.slice(at, at + codec._web_output_size());
  }

  // The output as a Blob, the page's download: one copy, straight from the
  // module's memory (a fresh 64 MiB array costs more than the conversion).
  function outputBlob(type) {
    const at = codec._web_output();
    return new Blob([codec.HEAPU8.subarray(at, at + codec._web_output_size())], { type });
  }

  // Reads the file straight into the module's memory, a piece at a time.
  // With a reader that fills a buffer of ours (BYOB), each piece lands in
  // the same 4 MiB, handed back read after read; the plain reader makes a
  // fresh array per piece, and fresh memory costs more to map in than the
  // copy itself (64 MiB of it: about 190 ms on the machine of docs/web.md).
  // Null when it can't be had; throws when the file can't be read.
  let piece = new ArrayBuffer(4 << 20);
  async function readIn(file) {
    const at = codec._malloc(Math.max(file.size, 1));
    if (at === 0) {
      return null;
    }
    let size = 0;
    const put = (bytes) => {
      if (size + bytes.length > file.size) {
        throw new Error('the file grew while read');
      }
      codec.HEAPU8.set(bytes, at + size);
      size += bytes.length;
    };
    try {
      let reader = null;
      try {
        reader = file.stream().getReader({ mode: 'byob' });
      } catch (notByob) {
        reader = file.stream().getReader();
      }
      if (reader instanceof ReadableStreamBYOBReader) {
        if (piece.byteLength === 0) {
          piece = new ArrayBuffer(4 << 20); // lost with a read that failed
        }
        for (;;) {
          const { value, done } = await reader.read(new Uint8Array(piece));
          piece = value.buffer;
          if (done) {
            break;
          }
          put(value);
        }
      } else {
        for (let read = await reader.read(); !read.done; read = await reader.read()) {
          put(read.value);
        }
      }
    } catch (failure) {
      codec._free(at);
      throw failure;
    }
    return { at, size };
  }

  // The file's bytes in the module's memory for the length of use(at, size).
  function withBytes(input, use) {
    try {
      return use(input.at, input.size);
    } finally {
      codec._free(input.at);
      codec._web_release();
    }
  }

  // Header, palette and, within the canvas's limits, the pixels of the daz
  // file at (at, size).
  function look(at, size) {
    const error = codec._web_inspect(at, size);
    if (error !== 0) {
      return { error };
    }
    const [width, height, rows, bits, colors, key] = [0, 1, 2, 3, 4, 5].map(codec._web_info_field);
    const paletteAt = codec._web_info_palette();
    const info = { width, height, rows, bits, colors, key,
                   palette: codec.HEAPU8.slice(paletteAt, paletteAt + 4 * colors) };
    const previewed = codec._web_preview(at, size);
    info.rgba = previewed === 0 ? output() : null;
    info.previewError = previewed === DAZ.DAZ_ERR_LIMITS ? 'limits' : previewed;
    return { error: 0, info };
  }

  function parse(name, text) {
    return codec.ccall(name, 'number', ['string'], [text]);
  }

  // The palette file's palette, for web_reduce: 0, or the library's error.
  function loadPalette(bytes) {
    if (bytes === null) {
      return DAZ.DAZ_ERR_MEMORY;
    }
    try {
      return codec._web_load_palette(bytes.at, bytes.size);
    } finally {
      codec._free(bytes.at);
    }
  }

  // The result of a conversion or reduction that ended with error: its
  // lines, and once made, its daz file and, for a reduction, what it holds
  // (the preview shows the daz file made). True when made.
  function made(result, error, started, format) {
    result.ms = performance.now() - started;
    if (error !== 0) {
      result.lines = [failureLine(result.reduced ? FAILURE_REDUCE : 0, error, format)];
      return false;
    }
    result.daz = outputBlob('application/octet-stream');
    result.blobMs = performance.now() - started - result.ms;
    const undefinedPixels = codec._web_output_undefined();
    result.lines = [];
    if (undefinedPixels > 0) {
      result.lines.push(codec.UTF8ToString(codec._web_undefined_line(undefinedPixels)));
    }
    result.lines.push(codec.UTF8ToString(codec._web_success_banner()));
    if (result.reduced) {
      const madeSize = codec._web_output_size();
      result.info = look(codec._web_keep(), madeSize).info;
    }
    return true;
  }

  // The palette file asked for, read for web_reduce and web_reduce_rgba, or
  // none: null, or the line of a palette file that gives none.
  function paletteFailure(job) {
    if (job.paletteBytes !== undefined) {
      const failed = loadPalette(job.paletteBytes);
      job.paletteBytes = undefined;
      if (failed !== 0) {
        return failureLine(FAILURE_PALETTE, failed);
      }
    } else {
      codec._web_drop_palette();
    }
    return null;
  }

  // An image of any format the library converts: its daz file for the
  // colour count and key asked for, then what it holds (its daz file with
  // every colour), looked at where it lies. In this order the second output
  // takes the memory the first had. An image those refuse for having no
  // palette is reduced instead, as rgbdaz reduces it, and so is every image
  // with dithering or a palette file asked for; the preview then shows the
  // daz file made.
  function image(job) {
    const colors = parse('web_parse_colors', job.colorsText);
    const key = parse('web_parse_key', job.keyText) & 0xffff;
    return withBytes(job.bytes, (at, size) => {
      const result = { colors, key };
      const reduceAll = job.dither || job.paletteBytes !== undefined;
      const noPalette = paletteFailure(job);
      if (noPalette !== null) {
        return { lines: [noPalette] };
      }
      const started = performance.now();
      let error = reduceAll ? null : codec._web_convert(at, size, colors, key);
      if (error === null || error === DAZ.DAZ_ERR_PNG_NOT_PALETTE ||
          error === DAZ.DAZ_ERR_BMP_BITS) {
        result.reduced = true;
        error = codec._web_reduce(at, size, colors, job.dither ? 1 : 0, key);
      }
      if (made(result, error, started, job.format) && result.reduced) {
        return result;
      }
      codec._web_release();
      if (codec._web_convert(at, size, 0, 0) === 0) {
        const wholeSize = codec._web_output_size();
        result.info = look(codec._web_keep(), wholeSize).info;
      }
      return result;
    });
  }

  // An image the library doesn't read, decoded by the browser (its own
  // decoders: JPEG, WebP, AVIF, ...), its pixels reduced as rgbdaz reduces
  // an image of them: the colour count, dithering, the palette file and the
  // key as for any other. Null when the browser can't decode it either.
  async function decoded(job) {
    let bitmap = null;
    try {
      bitmap = await createImageBitmap(job.file, { colorSpaceConversion: 'none',
                                                   premultiplyAlpha: 'none' });
    } catch (undecodable) {
      return null;
    }
    const { width, height } = bitmap;
    const colors = parse('web_parse_colors', job.colorsText);
    const key = parse('web_parse_key', job.keyText) & 0xffff;
    const result = { colors, key, reduced: true, browser: true };
    if (width * height * 4 > codec._web_max_input()) {
      bitmap.close();
      result.lines = [failureLine(FAILURE_REDUCE, DAZ.DAZ_ERR_LIMITS)];
      return result;
    }
    try {
      return reduceDecoded(job, bitmap, result);
    } catch (stopped) {
      // The module stopped (memory it could not have): this worker is done.
      return { lines: [memoryLines[0]], crashed: true };
    }
  }

  function reduceDecoded(job, bitmap, result) {
    const { width, height } = bitmap;
    const { colors, key } = result;
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext('2d', { willReadFrequently: true });
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    const pixels = context.getImageData(0, 0, width, height).data;
    canvas.width = 0; // its memory goes before the module's grows
    const noPalette = paletteFailure(job);
    if (noPalette !== null) {
      return { browser: true, lines: [noPalette] };
    }
    const at = codec._malloc(Math.max(pixels.length, 1));
    if (at === 0) {
      return { browser: true, lines: [failureLine(FAILURE_REDUCE, DAZ.DAZ_ERR_MEMORY)] };
    }
    try {
      codec.HEAPU8.set(pixels, at);
      const started = performance.now();
      made(result, codec._web_reduce_rgba(at, width, height, colors, job.dither ? 1 : 0, key),
           started, DAZ.DAZ_FORMAT_UNKNOWN);
    } finally {
      codec._free(at);
      codec._web_release();
    }
    return result;
  }

  // A daz file: its header, its preview, and the PNG and the bitmap dazpng
  // and dazbmp write for it.
  function daz(job) {
    return withBytes(job.bytes, (at, size) => {
      const seen = look(at, size);
      if (seen.error !== 0) {
        return { lines: [failureLine(FAILURE_BMP, seen.error)] };
      }
      const result = { info: seen.info, lines: [] };
      const toPng = codec._web_export(DAZ.DAZ_FORMAT_PNG, at, size);
      if (toPng === 0) {
        result.png = outputBlob('image/png');
      } else {
        result.lines.push(failureLine(FAILURE_PNG, toPng));
      }
      const toBmp = codec._web_export(DAZ.DAZ_FORMAT_BMP, at, size);
      if (toBmp === 0) {
        result.bmp = outputBlob('image/bmp');
      } else {
        result.lines.push(failureLine(FAILURE_BMP, toBmp));
      }
      if (result.lines.length === 0) {
        result.lines.push(codec.UTF8ToString(codec._web_success_banner()));
      }
      return result;
    });
  }

  // A failure's line before the job's calls ran: dazbmp's for a daz image,
  // else orvx -c's.
  function lineKind(job) {
    return job.kind === 'daz' ? FAILURE_BMP : 0;
  }

  function buffersOf(result) {
    return result.info && result.info.rgba ? [result.info.rgba.buffer] : [];
  }

  // What a file past the module's input limit gets, from its size alone:
  // the lines the limit gives a daz file (dazpng's, then dazbmp's) or an
  // image (orvx -c's and pngdaz's).
  function tooBig(job) {
    if (job.kind === 'daz') {
      return [failureLine(FAILURE_PNG, DAZ.DAZ_ERR_LIMITS),
              failureLine(FAILURE_BMP, DAZ.DAZ_ERR_LIMITS)];
    }
    return [failureLine(0, DAZ.DAZ_ERR_LIMITS)];
  }

  self.onmessage = async (event) => {
    await ready;
    const job = event.data;
    job.kind = 'image'; // until the library tells a daz image
    let format = DAZ.DAZ_FORMAT_UNKNOWN;
    let result;
    let readMs = 0;
    try {
      format = await formatOf(job.file);
      job.format = format;
      if (format === DAZ.DAZ_FORMAT_DAZ) {
        job.kind = 'daz';
      }
      // File.size, a double, is checked before anything is read or
      // allocated: in the module a size is 32 bits (4 GiB + 100 bytes would
      // be 100).
      if (job.file.size > codec._web_max_input()) {
        result = { lines: tooBig(job) };
      } else {
        if (job.paletteFile && job.kind !== 'daz') {
          job.paletteBytes = await readIn(job.paletteFile);
        }
        if (job.kind !== 'daz' && !libraryReads(format)) {
          result = await decoded(job);
        }
        if (!result) {
          const started = performance.now();
          job.bytes = await readIn(job.file);
          readMs = performance.now() - started;
          if (job.bytes === null) {
            result = { lines: [failureLine(lineKind(job), DAZ.DAZ_ERR_MEMORY)] };
          }
        }
      }
    } catch (failure) {
      // Gone or changed since it was picked: what the commands say when a
      // read fails.
      result = { lines: [failureLine(lineKind(job), DAZ.DAZ_ERR_READ)] };
    }
    try {
      if (!result) {
        result = job.kind === 'daz' ? daz(job) : image(job);
      }
    } catch (failure) {
      // The module stopped (memory it could not have): this worker is done.
      result = { lines: [memoryLines[lineKind(job)]], crashed: true };
    }
    if (job.paletteBytes && !result.crashed) {
      codec._free(job.paletteBytes.at); // a palette file no call took
    }
    result.id = job.id;
    result.kind = job.kind;
    result.formatName = format === DAZ.DAZ_FORMAT_UNKNOWN ? ''
      : codec.UTF8ToString(codec._web_format_name(format));
    result.readMs = readMs;
    self.postMessage(result, buffersOf(result));
  };
}

(function page() {
  const $ = (id) => document.getElementById(id);
  const fileInput = $('file');
  const drop = $('drop');
  const convertButton = $('convert');
  let worker = null;
  let pending = null; // { id, resolve }
  let jobs = 0;
  let current = null; // { name, kind ('daz' or 'image', once the worker tells), file }
  let links = [];
  let opened = 0; // when the last file was picked, for the time it took

  // The worker's script: the codec's factory, with no fetch in its reach (it
  // would fetch its own data: URL), and codecWorker.
  const workerSource = '"use strict";\nconst createDazCodec = (function (fetch, _scriptDir) {\n' +
    'return (' + createDazCodec.toString() + ');\n})(undefined, undefined);\n(' +
    codecWorker.toString() + ')(createDazCodec);\n';
  const workerUrl = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));

  function startWorker() {
    worker = new Worker(workerUrl);
    worker.onmessage = (event) => {
      if (event.data.formats) {
        offer(event.data.formats);
      } else if (pending && event.data.id === pending.id) {
        const { resolve } = pending;
        pending = null;
        if (event.data.crashed) {
          stopWorker();
        }
        resolve(event.data);
      }
    };
  }

  function stopWorker() {
    if (worker) {
      worker.terminate();
      worker = null;
    }
  }

  // One job at a time: a new one ends the worker still busy with the last.
  function run(job) {
    if (pending) {
      stopWorker();
      pending = null;
    }
    if (!worker) {
      startWorker();
    }
    job.id = ++jobs;
    return new Promise((resolve) => {
      pending = { id: job.id, resolve };
      worker.postMessage(job);
    });
  }

  // The library's formats, as the worker's module tells them: the pickers'
  // accept lists and the texts that name them. Anything else the browser
  // decodes is taken too, as image/*.
  function offer(formats) {
    const accepted = (list) => list.flatMap((entry) =>
      [...entry.extensions.map((extension) => '.' + extension), entry.mime].filter(Boolean));
    const named = (list) => {
      const names = list.map((entry) => entry.name);
      return names.length < 2 ? names.join('')
        : names.slice(0, -1).join(', ') + ' o ' + names[names.length - 1];
    };
    const palettes = formats.filter((entry) => entry.loads);
    fileInput.accept = [...accepted(formats), 'image/*'].join(',');
    $('palette-file').accept = accepted(palettes).join(',');
    $('formats-all').textContent = formats.map((entry) => entry.name).join(', ');
    $('formats-convert').textContent =
      named(formats.filter((entry) => entry.converts));
    $('formats-palette').textContent = named(palettes);
    // For the tests: what the library reads itself, by name.
    document.body.dataset.formats = formats.filter((entry) => entry.converts || entry.loads)
      .map((entry) => entry.name + (entry.converts ? ':converte' : ':legge')).join(' ');
  }

  function renamed(name, extension) {
    const dot = name.lastIndexOf('.');
    return (dot > 0 ? name.slice(0, dot) : name) + extension;
  }

  // A result that failed before its arguments were read has no key.
  function hex(key) {
    return typeof key === 'number' ? key.toString(16).toUpperCase().padStart(4, '0') : '';
  }

  function clearLinks() {
    for (const url of links) {
      URL.revokeObjectURL(url);
    }
    links = [];
    $('downloads').replaceChildren();
  }

  function addLink(blob, name) {
    const url = URL.createObjectURL(blob);
    links.push(url);
    const link = document.createElement('a');
    link.href = url;
    link.download = name;
    link.textContent = 'Scarica ' + name;
    $('downloads').append(link);
  }

  function showLines(lines, failed) {
    $('status').replaceChildren(...lines.map((line) => {
      const p = document.createElement('p');
      p.textContent = line.trim();
      if (failed) {
        p.className = 'error';
      }
      return p;
    }).filter((p) => p.textContent !== ''));
  }

  function fact(label, value) {
    const dt = document.createElement('dt');
    dt.textContent = label;
    const dd = document.createElement('dd');
    dd.textContent = value;
    return [dt, dd];
  }

  function showInfo(info, lead, extra) {
    const facts = $('facts');
    const canvas = $('preview');
    const note = $('preview-note');
    const swatches = $('palette');
    canvas.width = 0;
    canvas.height = 0;
    note.textContent = '';
    swatches.replaceChildren();
    $('palette-title').hidden = !info;
    if (!info) {
      facts.replaceChildren(...lead, ...extra);
      return;
    }
    facts.replaceChildren(...lead, ...fact('Larghezza', info.width + ' pixel'),
                          ...fact('Altezza', info.rows + ' pixel'),
                          ...fact('Bit per pixel', String(info.bits)), ...extra);
    if (info.rgba) {
      canvas.width = info.width;
      canvas.height = info.rows;
      const pixels = new ImageData(new Uint8ClampedArray(info.rgba.buffer), info.width, info.rows);
      canvas.getContext('2d').putImageData(pixels, 0, 0);
      canvas.setAttribute('aria-label', 'Anteprima, ' + info.width + ' per ' + info.rows + ' pixel');
    } else {
      note.textContent = info.previewError === 'limits'
        ? 'Anteprima non disponibile: immagine troppo grande per il browser.'
        : 'Anteprima non disponibile.';
    }
    for (let i = 0; i < info.colors; ++i) {
      const [r, g, b] = info.palette.subarray(4 * i, 4 * i + 3);
      const item = document.createElement('li');
      const colour = '#' + [r, g, b].map((v) => v.toString(16).padStart(2, '0')).join('');
      item.style.background = colour;
      item.title = i + ': ' + colour;
      swatches.append(item);
    }
  }

  async function convert() {
    if (!current) {
      return;
    }
    const { name } = current;
    const paletteFile = $('palette-file').files[0] || null;
    const job = { file: current.file, colorsText: $('colors').value, keyText: $('key').value,
                  dither: $('dither').checked, paletteFile };
    $('result').hidden = false;
    $('name').textContent = name;
    document.body.dataset.state = 'busy';
    // The last file's result goes now: whatever happens to this one, its
    // facts, preview and palette never stand under this name.
    clearLinks();
    showInfo(null, [], []);
    showLines(['Conversione in corso...'], false);
    const result = await run(job);
    if (current === null || current.name !== name || result.id !== jobs) {
      return; // a newer file took its place
    }
    const { kind } = result;
    current.kind = kind;
    convertButton.disabled = kind === 'daz';
    const failed = kind === 'daz' ? !(result.png && result.bmp) : !result.daz;
    showLines(failed ? result.lines.map((line) => name + ': ' + line) : result.lines, failed);
    const lead = result.formatName ? fact('Formato', result.formatName)
      : result.browser ? fact('Letta da', 'browser') : [];
    const extra = [];
    if (result.info) {
      extra.push(...fact('Colori', String(result.info.colors)));
      if (kind === 'daz') {
        extra.push(...fact('Chiave', hex(result.info.key)));
      }
    }
    if (kind !== 'daz' && typeof result.colors === 'number') {
      extra.push(...fact('Colori tenuti', result.colors === 0 ? 'tutti' : String(result.colors)),
                 ...fact('Chiave usata', hex(result.key)));
    }
    if (result.reduced) {
      extra.push(...fact('Riduzione', (paletteFile ? 'sulla tavolozza di ' + paletteFile.name
        : 'a ' + (result.colors || 256) + ' colori')
        + (job.dither ? ', con diffusione dell\'errore' : '')));
    }
    showInfo(result.info, lead, extra);
    if (result.daz) {
      addLink(result.daz, renamed(name, '.daz'));
    }
    if (result.png) {
      addLink(result.png, renamed(name, '.png'));
    }
    if (result.bmp) {
      addLink(result.bmp, renamed(name, '.bmp'));
    }
    // The file's reading, the conversion alone, its Blob, and from the file
    // picked to its link.
    document.body.dataset.readMs = String(result.readMs || 0);
    document.body.dataset.ms = String(result.ms || 0);
    document.body.dataset.blobMs = String(result.blobMs || 0);
    document.body.dataset.totalMs = String(performance.now() - opened);
    document.body.dataset.state = 'done';
  }

  async function open(file) {
    if (!file) {
      return;
    }
    opened = performance.now();
    // Its kind comes back with the result: the library tells it.
    current = { name: file.name, kind: null, file };
    convertButton.disabled = true;
    await convert();
  }

  fileInput.addEventListener('change', () => {
    open(fileInput.files[0]);
    fileInput.value = ''; // the same file again is a change too
  });
  convertButton.addEventListener('click', convert);
  $('no-palette').addEventListener('click', () => {
    $('palette-file').value = '';
  });
  for (const id of ['colors', 'key']) {
    $(id).addEventListener('keydown', (event) => {
      if (event.key === 'Enter' && current && current.kind === 'image') {
        convert();
      }
    });
  }
  drop.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    open(event.dataTransfer.files[0]);
  });
  // A file dropped beside the zone is not opened by the browser instead.
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => event.preventDefault());
  startWorker();
  document.body.dataset.state = 'ready';
})();
