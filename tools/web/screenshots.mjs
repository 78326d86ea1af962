// Pictures of the browser build's page in headless Chromium for the README: the title screen in a
// window of 1280 x 1000 (the game at twice its size) and of 800 x 600 (at its own size).
//   node tools/web/screenshots.mjs [SITE]      (needs `npm ci` in tests/web)
import { createRequire } from "node:module";
import { createServer } from "node:http";
import { readFileSync, existsSync, mkdtempSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, extname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const puppeteer = createRequire(join(root, "tests/web/package.json"))("puppeteer-core");
const site = resolve(process.argv[2] || join(root, "build/web/game/site"));
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm", ".png": "image/png" };
const server = createServer((req, res) => {
  const file = join(site, new URL(req.url, "http://x").pathname.slice(1) || "index.html");
  if (!file.startsWith(site) || !existsSync(file)) { res.writeHead(404).end(); return; }
  res.writeHead(200, { "Content-Type": TYPES[extname(file)] || "application/octet-stream" });
  res.end(readFileSync(file));
});
await new Promise((r) => server.listen(0, "127.0.0.1", r));
const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium", headless: true, userDataDir: mkdtempSync(join(tmpdir(), "vantor-shots-")),
  args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking", "--disable-sync"],
});
for (const [width, height] of [[1280, 1000], [800, 600]]) {
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  await new Promise((r) => setTimeout(r, 4000));
  const box = await (await page.$("#canvas")).boundingBox();
  await page.mouse.click(box.x + 300 * box.width / 600, box.y + 200 * box.width / 600);
  await new Promise((r) => setTimeout(r, 1500));
  const path = join(root, `docs/screens/web-${width}x${height}.png`);
  await page.screenshot({ path });
  console.log(path);
  await page.close();
}
await browser.close();
server.close();
