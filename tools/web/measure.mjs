// Figures of the browser build in headless Chromium, on loopback: the time from navigation (in a
// browser already running, with an empty cache) to the first drawn frame, the bytes a static host sends with gzip before that frame and in all, and the
// main thread's CPU while the title screen waits.
//   node tools/web/measure.mjs [SITE]      (needs `npm ci` in tests/web; SITE: build/web/game/site)
import { createRequire } from "node:module";
import { createServer } from "node:http";
import { readFileSync, existsSync, mkdtempSync } from "node:fs";
import { gzipSync } from "node:zlib";
import { tmpdir } from "node:os";
import { dirname, extname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const require = createRequire(join(root, "tests/web/package.json"));
const puppeteer = require("puppeteer-core");
const site = resolve(process.argv[2] || join(root, "build/web/game/site"));
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm", ".png": "image/png" };

// Every response gzipped, as a static host serves them, compressed once beforehand (a host keeps
// them compressed); the bytes sent are counted.
let sent = 0;
const compressed = {};
const server = createServer((req, res) => {
  const file = join(site, new URL(req.url, "http://x").pathname.slice(1) || "index.html");
  if (!file.startsWith(site) || !existsSync(file)) { res.writeHead(404).end(); return; }
  const body = compressed[file] || (compressed[file] = gzipSync(readFileSync(file), { level: 9 }));
  sent += body.length;
  res.writeHead(200, { "Content-Type": TYPES[extname(file)] || "application/octet-stream", "Content-Encoding": "gzip" });
  res.end(body);
});
await new Promise((r) => server.listen(0, "127.0.0.1", r));
for (const name of ["index.html", "vantor.js", "vantor.wasm", "favicon.png"]) {
  compressed[join(site, name)] = gzipSync(readFileSync(join(site, name)), { level: 9 });
}
const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium", headless: true, userDataDir: mkdtempSync(join(tmpdir(), "vantor-measure-")),
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync"],
});
// A player's browser is running already when they follow the link: the browser is started and
// shown a blank page first, and the game's page then comes with an empty cache, as on a first visit.
const blank = await browser.newPage();
await blank.goto("about:blank");
const page = await browser.newPage();
await page.setCacheEnabled(false);
await page.setViewport({ width: 1280, height: 1000 });
// The first frame, seen from inside the page at every animation frame: the panel drawn under the
// intro (a pixel of the Abort plate is not black). Polling from outside would see it late on a busy machine.
await page.evaluateOnNewDocument(() => {
  const check = () => {
    const c = document.getElementById("canvas");
    const p = c && c.getContext("2d").getImageData(300, 430, 1, 1).data;
    if (p && p[0] + p[1] + p[2] > 0) window.firstFrame = performance.now();
    else requestAnimationFrame(check);
  };
  requestAnimationFrame(check);
});
await page.goto(`http://127.0.0.1:${server.address().port}/`);
await page.waitForFunction(() => window.firstFrame, { polling: 50, timeout: 60000 });
const firstFrame = Math.round(await page.evaluate(() => window.firstFrame));
const sentFirst = sent;
// Through the intro to the title, then ten seconds of waiting, measured by the DevTools protocol.
await new Promise((r) => setTimeout(r, 3000));
const box = await (await page.$("#canvas")).boundingBox();
await page.mouse.click(box.x + 300 * box.width / 600, box.y + 200 * box.width / 600);
await new Promise((r) => setTimeout(r, 2000));
const cdp = await page.createCDPSession();
await cdp.send("Performance.enable");
const before = await cdp.send("Performance.getMetrics");
const w0 = Date.now();
await new Promise((r) => setTimeout(r, 10000));
const after = await cdp.send("Performance.getMetrics");
const wall = (Date.now() - w0) / 1000;
const metric = (m, name) => m.metrics.find((x) => x.name === name).value;
const busy = ["TaskDuration"].map((n) => metric(after, n) - metric(before, n)).reduce((a, b) => a + b, 0);
console.log(`first drawn frame: ${firstFrame} ms after navigation`);
console.log(`bytes sent with gzip: ${(sentFirst / 1048576).toFixed(2)} MiB before the first frame, ` +
            `${(sent / 1048576).toFixed(2)} MiB in all so far (the maps come when a game starts)`);
console.log(`main thread on the waiting title screen: ${(100 * busy / wall).toFixed(2)} % of a core over ${wall.toFixed(1)} s`);
await browser.close();
server.close();
