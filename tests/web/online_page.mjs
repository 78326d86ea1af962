// One browser tab of the game for the online tests (web.online, e2e.online), driven over standard
// input: one line of JSON a command, one line of JSON an answer ({"error": ...} when it fails). The
// tab's storage is kept from one page to the next, where the page keeps its tokens:
//   {"op": "open", "fragment": F, "url": U}    opens the page at #F, served by the static host or from U
//   {"op": "rooms", "code": C}       waits for the page's list of open rooms to hold C: codes, server
//   {"op": "joinlisted", "code": C}  presses Join beside C in the list
//   {"op": "title"}                  the tab's title, which is the game's caption: title
//   {"op": "click", "x": X, "y": Y}  a click at game coordinates
//   {"op": "shot", "path": FILE}     the canvas as a binary PPM
//   {"op": "page", "path": FILE}     the whole page as a PNG
//   {"op": "room", "colour": C}      waits for the welcome into a room as C: room, colour, invite, status, title
//   {"op": "reload"}                 reloads the page, keeping the browser's storage
//   {"op": "lost"}                   waits until the bar says the connection is lost: status, title
// It ends when its input closes, and by itself after --seconds (240 unless told).
//   node online_page.mjs --site SITE [--seconds S] [--trust SPKI]
// --trust: the base64 SHA-256 of the public key of a test server's certificate, for https.
import { writeFileSync } from "node:fs";
import { createInterface } from "node:readline";
import { HEIGHT, WIDTH, canvasPixels, caption, clickGame, launchBrowser, onlineBar, openGame, serveSite, waitFor } from "./page.mjs";

const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, a, i, all) =>
  a.startsWith("--") ? [...pairs, [a.slice(2), all[i + 1]]] : pairs, []));
const site = await serveSite(args.site);
const browser = await launchBrowser({ trust: args.trust || null });
let page = null;
const end = async (code) => {
  await browser.close().catch(() => {});
  site.close();
  process.exit(code);
};
setTimeout(() => { process.stderr.write("online_page: out of time\n"); end(3); }, Number(args.seconds || 240) * 1000).unref();

const ops = {
  async open({ fragment, url }) {
    page = await openGame(browser, url || site.url, fragment);
    page.on("console", (m) => process.stderr.write(`tab console: ${m.text()}\n`));
    return { ok: true };
  },
  async shot({ path }) {
    const rgb = await canvasPixels(page);
    writeFileSync(path, Buffer.concat([Buffer.from(`P6 ${WIDTH} ${HEIGHT} 255\n`), Buffer.from(rgb)]));
    return { ok: true };
  },
  async title() {
    return { title: await caption(page) };
  },
  async click({ x, y }) {
    await clickGame(page, x, y);
    return { ok: true };
  },
  async page({ path }) {
    await page.screenshot({ path });
    return { ok: true };
  },
  async room({ colour }) {
    await waitFor(`a welcome as ${colour}`, async () => (await onlineBar(page)).colour === colour &&
                  (await caption(page)).includes(` ${colour})`), 30);
    return { ...(await onlineBar(page)), title: await caption(page) };
  },
  async rooms({ code }) {
    const listed = () => page.$$eval("#rooms td.code", (cells) => cells.map((c) => c.textContent));
    await waitFor(`room ${code} in the list`, async () => (await listed()).includes(code), 30);
    return { codes: await listed(), server: await page.$eval("#server", (f) => f.value) };
  },
  // The page loads itself again with the room's fragment: done once the old page's mark is gone.
  async joinlisted({ code }) {
    await page.evaluate(() => { window.leaving = true; });
    await page.$$eval("#rooms tr", (rows, c) => rows.find((r) => r.cells[0].textContent === c)
                                                    .querySelector("button").click(), code);
    await waitFor("the page to load again", async () => !(await page.evaluate(() => window.leaving).catch(() => true)), 30);
    return { ok: true };
  },
  async reload() {
    await page.reload();
    return { ok: true };
  },
  async reconnecting() {
    await waitFor("the bar to say it reconnects",
                  async () => /RECONNECTING: \d+ s left/.test((await onlineBar(page)).status), 30);
    return { ok: true };
  },
  async lost() {
    await waitFor("the bar to say the connection is lost",
                  async () => /CONNECTION LOST/.test((await onlineBar(page)).status), 90);
    return { ...(await onlineBar(page)), title: await caption(page), problems: page.problems };
  },
};

for await (const line of createInterface({ input: process.stdin })) {
  let answer;
  try {
    const command = JSON.parse(line);
    if (!ops[command.op]) throw new Error(`no such op ${command.op}`);
    answer = await ops[command.op](command);
  } catch (e) {
    answer = { error: e.message };
  }
  process.stdout.write(JSON.stringify(answer) + "\n");
}
await end(0);
