// The picture of the page's list of open rooms for docs/ONLINE.md, docs/screens/online-rooms.png:
// vantor-server serves the site on a free loopback port, three open rooms and a closed one are made
// over WebSocket from a tab (one of them with a second player and a watcher), and the page, served by the server,
// is shot at 1280 x 800 once it lists them.
//   node tools/web/rooms_screenshot.mjs --server build/release/vantor-server [--site SITE] [--out FILE]
// (needs `npm ci` in tests/web and the browser build's site, tools/web/build)
import { spawn } from "node:child_process";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const { launchBrowser, commandLine } = await import(join(root, "tests/web/page.mjs"));
const args = commandLine();
const site = resolve(args.site || join(root, "build/web/game/site"));
const out = resolve(args.out || join(root, "docs/screens/online-rooms.png"));

const server = spawn(resolve(args.server), ["--port", "0", "--bind", "127.0.0.1", "--site", site],
                     { stdio: ["ignore", "ignore", "pipe"] });
const port = await new Promise((done, fail) => {
  let text = "";
  server.stderr.on("data", (chunk) => {
    text += chunk;
    const found = /listening on 127\.0\.0\.1 port (\d+)/.exec(text);
    if (found) done(found[1]);
  });
  server.on("exit", () => fail(new Error(`vantor-server ended: ${text}`)));
});
const url = `http://127.0.0.1:${port}/`;
const browser = await launchBrowser();
try {
  // The rooms' players: WebSockets held open by a tab, which send a Create (open or not) or a Join.
  const players = await browser.newPage();
  await players.goto(`${url}rooms`);
  await players.evaluate(async (server) => {
    const version = [4, 0, 0, 0];  // online::kProtocolVersion
    const welcome = (hello) => new Promise((done) => {
      const ws = new WebSocket(`ws://${server}/room/new`);
      ws.binaryType = "arraybuffer";
      ws.onopen = () => ws.send(new Uint8Array(hello));
      ws.onmessage = (e) => done(String.fromCharCode(...new Uint8Array(e.data).slice(1, 9)));
      (window.held ||= []).push(ws);
    });
    const create = (open) => welcome([0x01, ...version, open ? 1 : 0]);
    const join = (code) => welcome([0x02, ...version, ...Array.from(code, (c) => c.charCodeAt(0)), ...new Array(16).fill(0)]);
    const watch = (code) => welcome([0x05, ...version, ...Array.from(code, (c) => c.charCodeAt(0))]);
    const first = await create(true);
    await join(first);
    await watch(first);
    await create(false);
    await new Promise((r) => setTimeout(r, 1500));
    await create(true);
    await create(true);
  }, `127.0.0.1:${port}`);

  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  await page.goto(url);
  await page.waitForFunction(() => document.querySelectorAll("#rooms td.code").length === 3, { timeout: 30000 });
  await new Promise((r) => setTimeout(r, 4000));
  await page.screenshot({ path: out });
  console.log(out);
} finally {
  await browser.close();
  server.kill("SIGTERM");
}
