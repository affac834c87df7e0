// The AOBench page: loads one of the two builds of the benchmark's module,
// runs the program's render on demand (or ?runs=N times on load), shows the
// picture the program saved, every time with their median, and a
// single-threaded render's digest. ?module=simd or ?module=scalar forces a
// build; by default the SIMD build is used where the browser has SIMD128.
'use strict';

(function () {
  const $ = (id) => document.getElementById(id);

  const BUILDS = {
    simd: {script: 'aobench_web_simd.js', factory: 'createAoBenchSimd', label: 'SIMD build (aobench_web_simd)'},
    scalar: {script: 'aobench_web.js', factory: 'createAoBenchScalar', label: 'scalar build (aobench_web)'},
  };

  // A module whose one function returns v128.const 0: valid only in a
  // browser with 128-bit SIMD.
  const SIMD_PROBE = new Uint8Array([
    0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00,  // "\0asm", version 1
    0x01, 0x05, 0x01, 0x60, 0x00, 0x01, 0x7b,        // types: () -> v128
    0x03, 0x02, 0x01, 0x00,                          // functions: one of type 0
    0x0a, 0x16, 0x01, 0x14, 0x00,                    // code: one body of 20 bytes, no locals
    0xfd, 0x0c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // v128.const 0
    0x0b,                                            // end
  ]);

  function browserHasSimd() {
    try {
      return WebAssembly.validate(SIMD_PROBE);
    } catch (e) {
      return false;
    }
  }

  const params = new URLSearchParams(location.search);
  const autoRuns = Math.min(Math.max(parseInt(params.get('runs') || '0', 10) || 0, 0), 100);

  let module = null;
  let pictureShown = false;
  let lastError = '';
  const times = [];

  function setStatus(text, kind) {
    const status = $('status');
    status.textContent = text;
    status.className = kind || '';
  }

  function fail(error) {
    const text = error && error.message ? error.message : String(error);
    setStatus(`Failed: ${text}`, 'failure');
    document.title = 'AOBench: failed';
    $('run').disabled = true;
    $('single').disabled = true;
  }

  function appendOutput(line) {
    $('output').textContent += line + '\n';
  }

  // Gives the browser a frame to paint before the next render blocks the
  // main thread; a hidden page, which gets no frames, goes on after 100 ms.
  function nextFrame() {
    return new Promise((resolve) => {
      let done = false;
      const go = () => {
        if (done) return;
        done = true;
        setTimeout(resolve, 0);
      };
      requestAnimationFrame(go);
      setTimeout(go, 100);
    });
  }

  function loadScript(src) {
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = src;
      script.onload = resolve;
      script.onerror = () => reject(new Error(`cannot load ${src}`));
      document.head.appendChild(script);
    });
  }

  // Decodes an uncompressed 24- or 32-bit BMP (rows bottom-up unless the
  // height is negative, pixels blue, green, red) into RGBA ImageData.
  function decodeBmp(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    if (bytes.length < 54 || view.getUint16(0, true) !== 0x4d42) throw new Error('aomt.bmp is not a BMP file');
    const offset = view.getUint32(10, true);
    const width = view.getInt32(18, true);
    const rawHeight = view.getInt32(22, true);
    const bpp = view.getUint16(28, true);
    const compression = view.getUint32(30, true);
    const height = Math.abs(rawHeight);
    if ((bpp !== 24 && bpp !== 32) || (compression !== 0 && compression !== 3) || width <= 0 || height === 0) {
      throw new Error(`aomt.bmp: unsupported format (${width}x${rawHeight}, ${bpp} bits, compression ${compression})`);
    }
    const stride = Math.floor((width * bpp + 31) / 32) * 4;
    if (offset + stride * height > bytes.length) throw new Error('aomt.bmp is cut short');
    const image = new ImageData(width, height);
    for (let y = 0; y < height; ++y) {
      const fileRow = rawHeight > 0 ? height - 1 - y : y;
      let src = offset + fileRow * stride;
      let dst = y * width * 4;
      for (let x = 0; x < width; ++x, src += bpp / 8, dst += 4) {
        image.data[dst] = bytes[src + 2];
        image.data[dst + 1] = bytes[src + 1];
        image.data[dst + 2] = bytes[src];
        image.data[dst + 3] = 255;
      }
    }
    return image;
  }

  function showPicture(bmp) {
    const image = decodeBmp(bmp);
    const canvas = $('picture');
    canvas.width = image.width;
    canvas.height = image.height;
    canvas.getContext('2d').putImageData(image, 0, 0);
    const link = $('download');
    link.href = URL.createObjectURL(new Blob([bmp], {type: 'image/bmp'}));
    link.hidden = false;
    pictureShown = true;
  }

  function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    const middle = sorted.length >> 1;
    return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
  }

  // One run of the program: the render on the module's workers, then its
  // files read back from the module's file system.
  function runOnce() {
    lastError = '';
    const status = module.ccall('aobench_run', 'number', [], []);
    if (status !== 0) throw new Error(`the run ended with status ${status}${lastError ? ': ' + lastError : ''}`);
    const line = module.FS.readFile('AOBench.txt', {encoding: 'utf8'}).trim();
    const match = /^AO Multi Thread Time = (-?\d+)ms$/.exec(line);
    if (!match) throw new Error(`unexpected AOBench.txt: ${line}`);
    times.push(Number(match[1]));
    $('result').textContent = line;
    const item = document.createElement('li');
    item.textContent = match[1];
    $('times').appendChild(item);
    $('median').textContent = `${median(times)} ms of ${times.length} run${times.length > 1 ? 's' : ''}`;
    // The program saves the picture on its first run only.
    if (!pictureShown) showPicture(module.FS.readFile('aomt.bmp'));
    $('path').textContent = module.ccall('aobench_path_name', 'string', [], []);
  }

  async function runSeries(count) {
    $('run').disabled = true;
    $('single').disabled = true;
    document.title = 'AOBench: running';
    try {
      for (let i = 1; i <= count; ++i) {
        setStatus(`Rendering, run ${i} of ${count}…`);
        await nextFrame();
        runOnce();
      }
      setStatus(`Done: ${times.length} run${times.length > 1 ? 's' : ''} in all.`);
      document.title = `AOBench: done (${$('result').textContent})`;
      $('run').disabled = false;
      $('run').textContent = 'Run again';
      $('single').disabled = false;
    } catch (error) {
      fail(error);
    }
  }

  async function singleThread() {
    $('run').disabled = true;
    $('single').disabled = true;
    setStatus('Rendering on one thread…');
    $('digest').textContent = '';
    try {
      await nextFrame();
      const started = performance.now();
      const digest = module.ccall('aobench_single_thread_digest', 'string', [], []);
      const elapsed = Math.round(performance.now() - started);
      if (!/^[0-9a-f]{16}$/.test(digest)) throw new Error('the single-thread render made no picture');
      const path = module.ccall('aobench_path_name', 'string', [], []);
      $('single-result').textContent = `${elapsed} ms on the ${path} path`;
      $('single-result').dataset.path = path;
      $('digest').textContent = digest;
      setStatus('Single-thread render done.');
      $('run').disabled = false;
      $('single').disabled = false;
    } catch (error) {
      fail(error);
    }
  }

  function explainIsolation() {
    const status = $('status');
    status.className = 'warning';
    status.innerHTML =
        '<strong>This page is not cross-origin isolated</strong>, so the browser gives it no ' +
        'SharedArrayBuffer and the benchmark\'s worker threads cannot run. The server must send ' +
        'the headers <code>Cross-Origin-Opener-Policy: same-origin</code> and ' +
        '<code>Cross-Origin-Embedder-Policy: require-corp</code>. The bundled server does: from the ' +
        'repository root run <code>python3 web/serve.py build/wasm/web</code> and open ' +
        '<code>http://127.0.0.1:8000/</code>.';
    document.title = 'AOBench: failed (not cross-origin isolated)';
  }

  async function start() {
    $('cores').textContent = String(navigator.hardwareConcurrency || 'unknown');
    if (!window.crossOriginIsolated || typeof SharedArrayBuffer === 'undefined') {
      explainIsolation();
      return;
    }
    const forced = params.get('module');
    const kind = forced in BUILDS ? forced : browserHasSimd() ? 'simd' : 'scalar';
    const build = BUILDS[kind];
    $('module').textContent = build.label;
    $('module').dataset.kind = kind;
    try {
      setStatus(`Loading the ${build.label}…`);
      await loadScript(build.script);
      module = await window[build.factory]({
        print: appendOutput,
        printErr: (line) => {
          lastError = line;
          appendOutput(line);
        },
      });
    } catch (error) {
      fail(error);
      return;
    }
    $('path').textContent = module.ccall('aobench_path_name', 'string', [], []);
    $('run').addEventListener('click', () => runSeries(1));
    $('single').addEventListener('click', singleThread);
    if (autoRuns > 0) {
      await runSeries(autoRuns);
    } else {
      setStatus('Ready.');
      $('run').textContent = 'Run';
      $('run').disabled = false;
      $('single').disabled = false;
      document.title = 'AOBench: ready';
    }
  }

  start();
})();
