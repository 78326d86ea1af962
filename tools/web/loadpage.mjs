// What tools/web/measure.mjs and profile.mjs share: the site served on loopback with every file
// gzipped once beforehand, as a static host keeps them, counting the bytes sent; a browser already
// running (shown a blank page first), and a page with an empty cache that notes its first drawn frame.
import { createRequire } from "node:module";
import { createServer } from "node:http";
import { readFileSync, existsSync, mkdtempSync } from "node:fs";
import { gzipSync } from "node:zlib";
import { tmpdir } from "node:os";
import { dirname, extname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

export const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const puppeteer = createRequire(join(root, "tests/web/package.json"))("puppeteer-core");
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm", ".png": "image/png",
                ".webmanifest": "application/manifest+json" };

// The server: its address, and `sent`, the bytes sent so far.
export async function serveSite(site) {
  const compressed = {};
  const zipped = (file) => compressed[file] || (compressed[file] = gzipSync(readFileSync(file), { level: 9 }));
  const served = { sent: 0 };
  served.server = createServer((req, res) => {
    const file = join(site, new URL(req.url, "http://x").pathname.slice(1) || "index.html");
    if (!file.startsWith(site) || !existsSync(file)) { res.writeHead(404).end(); return; }
    const body = zipped(file);
    served.sent += body.length;
    res.writeHead(200, { "Content-Type": TYPES[extname(file)] || "application/octet-stream", "Content-Encoding": "gzip" });
    res.end(body);
  });
  for (const name of ["index.html", "vantor.js", "vantor.wasm", "favicon.png"]) zipped(join(site, name));
  await new Promise((r) => served.server.listen(0, "127.0.0.1", r));
  served.url = `http://127.0.0.1:${served.server.address().port}/`;
  return served;
}

// The browser, and a fresh page in it at 1280 x 1000 whose `window.firstFrame` becomes the time of
// the first drawn frame: the panel under the intro (a pixel of the Abort plate not black), seen from
// inside the page at every animation frame, since polling from outside sees it late on a busy machine.
export async function openPage(name) {
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium", headless: true, userDataDir: mkdtempSync(join(tmpdir(), `vantor-${name}-`)),
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  await (await browser.newPage()).goto("about:blank");
  const page = await browser.newPage();
  await page.setCacheEnabled(false);
  await page.setViewport({ width: 1280, height: 1000 });
  await page.evaluateOnNewDocument(() => {
    const check = () => {
      const c = document.getElementById("canvas");
      const p = c && c.getContext("2d").getImageData(300, 430, 1, 1).data;
      if (p && p[0] + p[1] + p[2] > 0) window.firstFrame = performance.now();
      else requestAnimationFrame(check);
    };
    requestAnimationFrame(check);
  });
  return { browser, page };
}
