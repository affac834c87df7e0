// The AOBench page in headless Chromium: serves a built page folder with
// serve.py, loads the page with ?runs=3 and again with the scalar build
// forced, and checks what it shows against what the program made.
//
//   node web/browser-test.mjs PAGE_FOLDER [--screenshot FILE] [--timeout SECONDS]
//
// Exits 0 when every check passes, else 1 after one line naming the failed
// check (and the page's console lines). CHROMIUM names another browser
// binary than /usr/bin/chromium.

import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync, existsSync, mkdirSync} from 'node:fs';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';
import puppeteer from 'puppeteer-core';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const EXPECTED_DIGEST = 'bc3d63416a72275f';
const RESULT_LINE = /^AO Multi Thread Time = \d+ms$/;
// The machine may have no network: these keep Chromium from reaching out.
const CHROMIUM_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

class CheckFailed extends Error {}

function check(condition, message) {
  if (!condition) throw new CheckFailed(message);
}

function parseArguments(argv) {
  const options = {folder: null, screenshot: null, timeoutMs: 120000};
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    if (arg === '--screenshot' && i + 1 < argv.length) {
      options.screenshot = argv[++i];
    } else if (arg === '--timeout' && i + 1 < argv.length) {
      options.timeoutMs = Number(argv[++i]) * 1000;
    } else if (!arg.startsWith('--') && options.folder === null) {
      options.folder = arg;
    } else {
      throw new CheckFailed(`unknown argument ${arg}`);
    }
  }
  if (options.folder === null || !(options.timeoutMs > 0)) {
    throw new CheckFailed('usage: browser-test.mjs PAGE_FOLDER [--screenshot FILE] [--timeout SECONDS]');
  }
  check(existsSync(path.join(options.folder, 'index.html')), `no index.html in ${options.folder}`);
  return options;
}

// Starts serve.py on a free port; resolves with the server and its URL.
function startServer(folder) {
  return new Promise((resolve, reject) => {
    const server = spawn('python3', [path.join(HERE, 'serve.py'), folder, '0'], {stdio: ['ignore', 'pipe', 'pipe']});
    server.log = [];
    server.stderr.on('data', (data) => server.log.push(String(data).trim()));
    let out = '';
    const timer = setTimeout(() => {
      server.kill();  // not left running behind a failed test
      reject(new CheckFailed('serve.py printed no URL within 10 s'));
    }, 10000);
    server.stdout.on('data', (data) => {
      out += data;
      const match = /http:\/\/\S+/.exec(out);
      if (match) {
        clearTimeout(timer);
        resolve({server, url: match[0]});
      }
    });
    server.on('exit', (code) => {
      clearTimeout(timer);
      reject(new CheckFailed(`serve.py ended (status ${code}): ${server.log.join(' ')}`));
    });
  });
}

// The picture of a BMP file as RGBA rows top to bottom (alpha 255); checks
// the header on the way.
function decodeBmp(bytes) {
  check(bytes.length >= 54 && bytes.toString('latin1', 0, 2) === 'BM', 'aomt.bmp does not start with "BM"');
  const offset = bytes.readUInt32LE(10);
  const width = bytes.readInt32LE(18);
  const rawHeight = bytes.readInt32LE(22);
  const bpp = bytes.readUInt16LE(28);
  const compression = bytes.readUInt32LE(30);
  const height = Math.abs(rawHeight);
  check(width === 256 && height === 256, `aomt.bmp is ${width} x ${rawHeight}, not 256 x 256`);
  check((bpp === 24 || bpp === 32) && compression === 0, `aomt.bmp: ${bpp} bits, compression ${compression}`);
  const stride = Math.floor((width * bpp + 31) / 32) * 4;
  check(offset + stride * height <= bytes.length, 'aomt.bmp is cut short');
  const rgba = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; ++y) {
    const row = offset + (rawHeight > 0 ? height - 1 - y : y) * stride;
    for (let x = 0; x < width; ++x) {
      const src = row + (x * bpp) / 8;
      const dst = (y * width + x) * 4;
      rgba[dst] = bytes[src + 2];
      rgba[dst + 1] = bytes[src + 1];
      rgba[dst + 2] = bytes[src];
      rgba[dst + 3] = 255;
    }
  }
  return {width, height, rgba};
}

// Loads the page, waits until its runs are over, and returns what it shows.
async function loadAndRun(browser, url, timeoutMs) {
  const page = await browser.newPage();
  const log = [];
  page.on('console', (message) => log.push(`console.${message.type()}: ${message.text()}`));
  page.on('pageerror', (error) => log.push(`page error: ${error.message}`));
  const fail = (message) => {
    throw new CheckFailed(`${url}: ${message}${log.length ? '\n  ' + log.join('\n  ') : ''}`);
  };
  await page.setViewport({width: 760, height: 480});
  await page.goto(url, {waitUntil: 'load'});
  try {
    await page.waitForFunction(() => /^AOBench: (done|failed)/.test(document.title), {timeout: timeoutMs});
  } catch (error) {
    fail(`no "AOBench: done" within ${timeoutMs / 1000} s (status: ${
        await page.$eval('#status', (e) => e.textContent).catch(() => '?')})`);
  }
  const shown = await page.evaluate(async () => {
    const text = (id) => document.getElementById(id).textContent;
    const base64 = (bytes) => {
      let s = '';
      for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      return btoa(s);
    };
    const link = document.getElementById('download');
    const canvas = document.getElementById('picture');
    return {
      title: document.title,
      status: text('status'),
      isolated: window.crossOriginIsolated,
      times: [...document.querySelectorAll('#times li')].map((li) => li.textContent),
      median: text('median'),
      result: text('result'),
      module: document.getElementById('module').dataset.kind,
      path: text('path'),
      cores: text('cores'),
      bmp: link.href ? base64(new Uint8Array(await (await fetch(link.href)).arrayBuffer())) : '',
      canvas: {
        width: canvas.width,
        height: canvas.height,
        rgba: base64(canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data),
      },
    };
  });
  if (!shown.title.startsWith('AOBench: done')) fail(`the page failed: ${shown.status}`);
  return {page, shown, fail, log};
}

// Clicks the single-thread button and returns the digest and path shown.
async function singleThreadRender(page, fail, timeoutMs) {
  await page.click('#single');
  try {
    await page.waitForFunction(
        () => document.getElementById('digest').textContent !== '' || document.title.startsWith('AOBench: failed'),
        {timeout: timeoutMs});
  } catch (error) {
    fail(`no single-thread digest within ${timeoutMs / 1000} s`);
  }
  return page.evaluate(() => ({
    digest: document.getElementById('digest').textContent,
    path: document.getElementById('single-result').dataset.path,
    shown: document.getElementById('single-result').textContent,
    status: document.getElementById('status').textContent,
  }));
}

function checkPicture(shown, fail) {
  if (!shown.bmp) fail('the page offers no aomt.bmp download');
  const bmp = decodeBmp(Buffer.from(shown.bmp, 'base64'));
  const canvas = Buffer.from(shown.canvas.rgba, 'base64');
  if (shown.canvas.width !== bmp.width || shown.canvas.height !== bmp.height) {
    fail(`the canvas is ${shown.canvas.width} x ${shown.canvas.height}, aomt.bmp ${bmp.width} x ${bmp.height}`);
  }
  const differs = canvas.findIndex((byte, i) => byte !== bmp.rgba[i]);
  if (differs >= 0) {
    const pixel = differs >> 2;
    fail(`the canvas differs from aomt.bmp at x ${pixel % bmp.width}, y ${Math.floor(pixel / bmp.width)} ` +
         `(channel ${differs & 3}: ${canvas[differs]} instead of ${bmp.rgba[differs]})`);
  }
  const greys = new Set();
  for (let i = 0; i < bmp.rgba.length; i += 4) greys.add(bmp.rgba[i]);
  if (greys.size < 32) fail(`aomt.bmp holds only ${greys.size} shades: not the AO picture`);
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const {server, url} = await startServer(options.folder);
  const userDataDir = mkdtempSync(path.join(tmpdir(), 'aobench-chromium-'));
  let browser = null;
  try {
    browser = await puppeteer.launch({
      executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
      headless: 'shell',
      args: CHROMIUM_FLAGS,
      userDataDir,
      protocolTimeout: options.timeoutMs + 30000,
    });

    // Without the isolation headers (a file: URL) the page explains itself.
    {
      const page = await browser.newPage();
      await page.goto(pathToFileURL(path.resolve(options.folder, 'index.html')).href, {waitUntil: 'load'});
      await page.waitForFunction(() => document.title.startsWith('AOBench: failed'), {timeout: 10000})
          .catch(() => {});
      const status = await page.$eval('#status', (e) => e.textContent);
      check(status.includes('Cross-Origin-Opener-Policy: same-origin') &&
                status.includes('Cross-Origin-Embedder-Policy: require-corp') && status.includes('serve.py'),
            `a page that is not cross-origin isolated does not say how to fix it: "${status}"`);
      await page.close();
    }

    // The default choice (the SIMD build in this Chromium), three runs.
    const first = await loadAndRun(browser, `${url}?runs=3`, options.timeoutMs);
    const shown = first.shown;
    if (!shown.isolated) first.fail('the page is not cross-origin isolated');
    if (shown.module !== 'simd') first.fail(`the page chose the ${shown.module} build in a browser with SIMD128`);
    if (shown.times.length !== 3 || !shown.times.every((t) => /^\d+$/.test(t))) {
      first.fail(`expected three times, the page shows [${shown.times.join(', ')}]`);
    }
    if (!RESULT_LINE.test(shown.result)) first.fail(`#result holds "${shown.result}"`);
    checkPicture(shown, first.fail);
    const single = await singleThreadRender(first.page, first.fail, options.timeoutMs);
    if (single.digest !== EXPECTED_DIGEST) {
      first.fail(`single-thread digest "${single.digest}" on the ${single.path} path, not ${EXPECTED_DIGEST}` +
                 ` (${single.status})`);
    }
    // The button repeats the render and adds its time to the list.
    await first.page.click('#run');
    await first.page
        .waitForFunction(() => document.querySelectorAll('#times li').length === 4 && !document.getElementById('run').disabled,
                         {timeout: options.timeoutMs})
        .catch(() => first.fail('"Run again" added no fourth time'));
    console.log(`browser-test: ${shown.module} build, ${shown.path} path, ${shown.cores} logical cores: ` +
                `times ${shown.times.join(', ')} ms (median ${shown.median}); "${shown.result}"; ` +
                `single-thread ${single.shown}, digest ${single.digest}`);
    if (options.screenshot) {
      mkdirSync(path.dirname(path.resolve(options.screenshot)), {recursive: true});
      await first.page.screenshot({path: options.screenshot, fullPage: true});
      console.log(`browser-test: screenshot in ${options.screenshot}`);
    }
    await first.page.close();

    // The scalar build, forced.
    const second = await loadAndRun(browser, `${url}?module=scalar&runs=1`, options.timeoutMs);
    if (second.shown.module !== 'scalar') second.fail(`?module=scalar loaded the ${second.shown.module} build`);
    if (second.shown.times.length !== 1) second.fail(`expected one time, got ${second.shown.times.length}`);
    if (!RESULT_LINE.test(second.shown.result)) second.fail(`#result holds "${second.shown.result}"`);
    checkPicture(second.shown, second.fail);
    const scalar = await singleThreadRender(second.page, second.fail, options.timeoutMs);
    if (scalar.digest !== EXPECTED_DIGEST) {
      second.fail(`single-thread digest "${scalar.digest}" on the ${scalar.path} path, not ${EXPECTED_DIGEST}`);
    }
    console.log(`browser-test: scalar build, ${second.shown.path} path: "${second.shown.result}"; ` +
                `single-thread ${scalar.shown}, digest ${scalar.digest}`);
    console.log('browser-test: passed');
  } finally {
    if (browser) await browser.close().catch(() => {});
    server.kill();
    rmSync(userDataDir, {recursive: true, force: true});
  }
}

main().then(
    () => process.exit(0),
    (error) => {
      console.error(`browser-test: FAILED: ${error instanceof CheckFailed ? error.message : error.stack || error}`);
      process.exit(1);
    });
