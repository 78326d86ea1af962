// Helpers for driving the browser build from puppeteer: the site served on the loopback, Debian's
// Chromium, and the game's page: its caption, clicks at game coordinates, the canvas's pixels and
// pictures compared with vantor-sim's, and the online bar. Used by the test scripts here; a script
// of its own imports them so:
//
//   import { serveSite, launchBrowser, openGame, caption, clickGame, canvasPixels, canvasPicture,
//            onlineBar, waitFor } from "./page.mjs";
//   const site = await serveSite("build/web/game/site");
//   const browser = await launchBrowser();
//   const page = await openGame(browser, site.url, "join=K7QM-2XPA@127.0.0.1:8765");
//   await waitFor("the room", async () => / BLUE\)/.test(await caption(page)), 20);
//   await clickGame(page, 380, 340);
//   await canvasPicture(page, "/tmp/shot.png");
import { execFileSync } from "node:child_process";
import { createServer } from "node:http";
import { copyFileSync, existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, extname, join, normalize } from "node:path";
import puppeteer from "puppeteer-core";

export const WIDTH = 600, HEIGHT = 460;

export class Failure extends Error {}

// The site folder served as a static host serves it, on a free loopback port: { url, close() }.
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm", ".png": "image/png",
                ".webmanifest": "application/manifest+json" };
export function serveSite(site) {
  const server = createServer((req, res) => {
    const path = normalize(decodeURIComponent(new URL(req.url, "http://x").pathname)).replace(/^\/+/, "");
    const file = join(site, path || "index.html");
    if (!file.startsWith(site) || !existsSync(file)) { res.writeHead(404).end(); return; }
    res.writeHead(200, { "Content-Type": TYPES[extname(file)] || "application/octet-stream" });
    res.end(readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () =>
    resolve({ url: `http://127.0.0.1:${server.address().port}/`,
              close: () => { server.close(); server.closeAllConnections(); } })));
}

// Debian's Chromium, headless, with a profile of its own (so the page's storage starts empty), removed
// once the browser is closed.
// `trust`: the base64 SHA-256 of a test certificate's public key, which the browser then accepts.
export async function launchBrowser({ headless = true, trust = null } = {}) {
  const profile = mkdtempSync(join(tmpdir(), "vantor-web-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless,
    userDataDir: profile,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--autoplay-policy=no-user-gesture-required"]
      .concat(trust ? [`--ignore-certificate-errors-spki-list=${trust}`] : []),
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    try { rmSync(profile, { recursive: true, force: true, maxRetries: 5 }); } catch (e) { /* left in /tmp */ }
  };
  return browser;
}

// A new tab on the page, with the fragment if given ("join=CODE@HOST:PORT", "create@HOST:PORT"). Errors
// on the page are collected in page.problems.
export async function openGame(browser, url, fragment = "") {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 1000 });
  page.problems = [];
  page.on("console", (m) => { if (m.type() === "error") page.problems.push(`console: ${m.text()}`); });
  page.on("pageerror", (e) => page.problems.push(`page error: ${e.message}`));
  await page.goto(fragment ? `${url}#${fragment}` : url);
  return page;
}

// The game's caption, which the browser shows as the tab's title: "Vantor (room K7QM-2XPA BLUE) - ...".
export const caption = (page) => page.title();

// A click at game coordinates (600 x 460), through the page's scaling of the canvas.
export async function clickGame(page, x, y) {
  const box = await (await page.$("#canvas")).boundingBox();
  const s = box.width / WIDTH;
  await page.mouse.click(box.x + (x + 0.5) * s, box.y + (y + 0.5) * s);
}

// The canvas's own 600 x 460 pixels, RGB.
// They come as base64: an array of numbers would keep the page's thread busy long enough to slow
// the game's ticks while a test polls.
export async function canvasPixels(page) {
  const data = await page.evaluate(() => {
    const c = document.getElementById("canvas");
    const rgba = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    let text = "";
    for (let i = 0; i < rgba.length; i += 32768) text += String.fromCharCode.apply(null, rgba.subarray(i, i + 32768));
    return btoa(text);
  });
  const rgba = Buffer.from(data, "base64");
  const rgb = new Uint8Array(WIDTH * HEIGHT * 3);
  for (let i = 0, j = 0; i < rgba.length; i += 4) { rgb[j++] = rgba[i]; rgb[j++] = rgba[i + 1]; rgb[j++] = rgba[i + 2]; }
  return rgb;
}

// A PNG of the canvas as the page shows it (scaled), written to path.
export async function canvasPicture(page, path) {
  await (await page.$("#canvas")).screenshot({ path });
}

// The online part of the bar: { room, colour, invite, status }; room and colour empty until welcomed.
export function onlineBar(page) {
  return page.evaluate(() => {
    const online = document.getElementById("online");
    return { room: online.hidden ? "" : online.dataset.room, colour: online.hidden ? "" : online.dataset.colour,
             invite: document.getElementById("invite").value, status: document.getElementById("status").textContent };
  });
}

// Calls check() every 100 ms until it gives something true, and returns that; fails after seconds.
export async function waitFor(what, check, seconds) {
  const until = Date.now() + seconds * 1000;
  for (;;) {
    const got = await check();
    if (got) return got;
    if (Date.now() > until) throw new Failure(`gave up after ${seconds} s waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 100));
  }
}

// ---- what vantor-sim shows for the same clicks: 24-bit BMPs read into RGB arrays ----
function readBmp(path) {
  const b = readFileSync(path);
  const offset = b.readUInt32LE(10), w = b.readInt32LE(18), h = b.readInt32LE(22), stride = (w * 3 + 3) & ~3;
  const rgb = new Uint8Array(w * Math.abs(h) * 3);
  for (let y = 0; y < Math.abs(h); y++) {
    const row = offset + (h > 0 ? Math.abs(h) - 1 - y : y) * stride;
    for (let x = 0; x < w; x++) for (let c = 0; c < 3; c++) rgb[(y * w + x) * 3 + c] = b[row + x * 3 + 2 - c];
  }
  return rgb;
}
// vantor-sim (at sim) runs the script lines, "shot NAME" taking a picture; returns { NAME: rgb }.
export function simPictures(sim, lines, maps = []) {
  const dir = mkdtempSync(join(tmpdir(), "vantor-web-sim-"));
  for (const map of maps) copyFileSync(map, join(dir, basename(map)));
  const script = lines.map((l) => (l.startsWith("shot ") ? `screenshot ${l.slice(5)}.bmp` : l)).join("\n") + "\n";
  execFileSync(sim, ["--dir", dir], { input: script });
  const shots = {};
  for (const l of lines) if (l.startsWith("shot ")) shots[l.slice(5)] = readBmp(join(dir, `${l.slice(5)}.bmp`));
  return shots;
}

// How many pixels of two RGB pictures differ.
export function differing(a, b) {
  let n = 0;
  for (let i = 0; i < a.length; i += 3) if (a[i] !== b[i] || a[i + 1] !== b[i + 1] || a[i + 2] !== b[i + 2]) n++;
  return n;
}

// ---- for the test scripts ----
// The command line's "--name value" pairs.
export const commandLine = () => Object.fromEntries(process.argv.slice(2).reduce((pairs, a, i, all) =>
  a.startsWith("--") ? [...pairs, [a.slice(2), all[i + 1]]] : pairs, []));
const started = Date.now();
export const log = (text) => console.log(`[${((Date.now() - started) / 1000).toFixed(1).padStart(5)} s] ${text}`);

// Waits for the canvas to show the expected picture; on failure both go to artefacts, when given, as PPMs.
export async function samePicture(page, what, expected, seconds, artefacts = null) {
  let last = null;
  try {
    await waitFor(what, async () => differing(last = await canvasPixels(page), expected) === 0, seconds);
  } catch (e) {
    const save = (name, rgb) => writeFileSync(join(artefacts, `${name}.ppm`),
                                              Buffer.concat([Buffer.from(`P6 ${WIDTH} ${HEIGHT} 255\n`), Buffer.from(rgb)]));
    if (artefacts) { save(`${what}-page`, last); save(`${what}-expected`, expected); }
    throw new Failure(`${e.message}: ${differing(last, expected)} pixels differ${artefacts ? ` (pictures in ${artefacts})` : ""}`);
  }
  if (artefacts) log(`${what}: the page equals vantor-sim's picture`);
}

// The intro's last slots draw nothing, and it lets nobody past before its twentieth tick: the press
// (a click or a tap at game coordinates) goes again until the title comes.
export async function pastIntro(page, press, what, title, artefacts = null) {
  for (let attempt = 1; ; attempt++) {
    await press(page, 300, 200);
    try {
      return await samePicture(page, what, title, attempt < 5 ? 1 : 5, artefacts);
    } catch (e) {
      if (attempt >= 5) throw e;
    }
  }
}
