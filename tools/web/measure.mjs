// Figures of the browser build in headless Chromium, on loopback: the time from navigation (in a
// browser already running, with an empty cache) to the first drawn frame, the bytes a static host sends with gzip before that frame and in all, and the
// main thread's CPU while the title screen waits.
//   node tools/web/measure.mjs [SITE]      (needs `npm ci` in tests/web; SITE: build/web/game/site)
import { join, resolve } from "node:path";
import { root, serveSite, openPage } from "./loadpage.mjs";

const site = resolve(process.argv[2] || join(root, "build/web/game/site"));
const served = await serveSite(site);
const { browser, page } = await openPage("measure");
await page.goto(served.url);
await page.waitForFunction(() => window.firstFrame, { polling: 50, timeout: 60000 });
const firstFrame = Math.round(await page.evaluate(() => window.firstFrame));
const sentFirst = served.sent;
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
            `${(served.sent / 1048576).toFixed(2)} MiB in all so far (the maps come when a game starts)`);
console.log(`main thread on the waiting title screen: ${(100 * busy / wall).toFixed(2)} % of a core over ${wall.toFixed(1)} s`);
await browser.close();
served.server.close();
