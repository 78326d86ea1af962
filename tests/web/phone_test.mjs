// The page around the game in Debian's Chromium, driven headless: keys go to a focused field and not
// to the game, M and the sound button are one remembered switch; on a phone held upright and sideways
// (touch emulation) the whole game is in view, also once turned in play, and a game is played by taps
// alone, each tap one click;
// fullscreen, or the full view where the browser has none; a second visit with the network cut
// starts a game against the computer from what the service worker kept.
//
//   node phone_test.mjs --site SITE --sim VANTOR_SIM
import { Failure, canvasPixels, clickGame, commandLine, launchBrowser, log, pastIntro as past, samePicture, serveSite,
         simPictures, waitFor } from "./page.mjs";

const args = commandLine();
const problems = [];

// A page in a context of its own, so that no settings or maps are kept from an earlier one.
async function open(browser, url, viewport) {
  const page = await (await browser.createBrowserContext()).newPage();
  await page.bringToFront();
  await page.setViewport(viewport);
  page.on("console", (m) => { if (m.type() === "error") problems.push(`console: ${m.text()}`); });
  page.on("pageerror", (e) => problems.push(`page error: ${e.message}`));
  await page.goto(url);
  await page.waitForFunction(() => Module.calledRun, { timeout: 30000 });
  return page;
}
const TITLE_CLICKS = ["tick 20", "click 300 200"];
const pastIntro = (page, press, title) => past(page, press, "the title", title);
async function tap(page, x, y) {
  const box = await (await page.$("#canvas")).boundingBox();
  const s = box.width / 600;
  await page.touchscreen.tap(box.x + (x + 0.5) * s, box.y + (y + 0.5) * s);
}
// The whole game in the viewport, nothing over it, nothing beside it overlapping, nothing to scroll.
async function checkFit(page, what, mode) {
  const r = await page.evaluate(() => {
    const c = document.getElementById("canvas").getBoundingClientRect();
    const b = document.getElementById("bar").getBoundingClientRect();
    const covered = [];
    for (const fx of [0.02, 0.5, 0.98]) for (const fy of [0.02, 0.5, 0.98]) {
      const x = c.left + fx * c.width, y = c.top + fy * c.height;
      if (document.elementFromPoint(x, y)?.id !== "canvas") covered.push(`${x},${y}`);
    }
    const overlap = b.width > 0 && b.left < c.right && c.left < b.right && b.top < c.bottom && c.top < b.bottom;
    const root = document.documentElement;
    return { c: [c.left, c.top, c.right, c.bottom], w: innerWidth, h: innerHeight, covered, overlap,
             scroll: root.scrollWidth > innerWidth || root.scrollHeight > innerHeight, fit: document.body.dataset.fit };
  });
  const [l, t, right, bottom] = r.c;
  if (l < 0 || t < 0 || right > r.w + 0.5 || bottom > r.h + 0.5) throw new Failure(`${what}: the game lies at ${r.c}`);
  if (r.covered.length || r.overlap || r.scroll)
    throw new Failure(`${what}: covered at ${r.covered}, controls overlap ${r.overlap}, scrolls ${r.scroll}`);
  if (!r.fit.startsWith(mode)) throw new Failure(`${what}: laid out as ${r.fit}, not ${mode}`);
  log(`${what}: the game in view at ${r.fit}`);
  return r;
}

// A typed room code and server reach their fields, F and space included, and not the game; Escape
// gives the keys back to it. M and the button are one switch, remembered for the next visit.
async function keys(browser, url) {
  const page = await open(browser, url, { width: 1280, height: 800 });
  await checkFit(page, "1280 x 800", "below");
  await page.click("#server", { clickCount: 3 });
  await page.keyboard.type("ws://f.lan:9001");
  await page.click("#code");
  await page.keyboard.type("F7QM 2XPA");  // f, F and space: fast play would end up switched
  const values = await page.$$eval("#server, #code", (f) => f.map((e) => e.value));
  if (values.join("|") !== "ws://f.lan:9001|F7QM 2XPA") throw new Failure(`the fields hold ${values}`);
  await page.keyboard.press("Escape");
  if (await page.evaluate(() => document.activeElement.id) !== "canvas") throw new Failure("Escape left the focus in the field");
  await pastIntro(page, clickGame, simPictures(args.sim, [...TITLE_CLICKS, "shot title"]).title);
  for (const x of [160, 190, 220, 250]) await clickGame(page, x, 340);
  await clickGame(page, 380, 340);
  await waitFor("play to begin", async () => / to fire/.test(await page.title()), 20);
  if (/fast play/.test(await page.title())) throw new Failure("keys typed into the fields switched fast play");
  await page.keyboard.press("f");
  await waitFor("fast play by the key", async () => /fast play/.test(await page.title()), 5);
  log("keys: the fields took what was typed, the game only what came after Escape");

  const sound = () => page.$eval("#sound", (b) => b.textContent);
  await page.keyboard.press("m");
  await waitFor("the sound off by M", async () => / - sound off$/.test(await page.title()) && (await sound()) === "Sound: off", 5);
  await page.click("#sound");
  await waitFor("the sound on by the button", async () => !/sound off/.test(await page.title()) && (await sound()) === "Sound: on", 5);
  await page.click("#sound");
  await waitFor("the sound off again", async () => (await sound()) === "Sound: off", 5);
  await new Promise((r) => setTimeout(r, 500));  // the page writes the file to IndexedDB in the background
  await page.reload();
  await waitFor("the switch kept", async () => /sound off/.test(await page.title()) && (await sound()) === "Sound: off", 30);
  await page.click("#helpbutton");
  await page.keyboard.press("Escape");
  if (!(await page.$eval("#help", (h) => h.hidden))) throw new Failure("Escape left the help open");
  log("sound: M and the button switch it, the caption says so, the next visit keeps it; help closes with Escape");
  await page.close();
}

// Two sides by taps alone: Red a person who fires as the panel stands, Blue the computer. The title's
// taps must leave vantor-sim's picture for the same clicks: one tap, one click.
// Turned (turnedMode given) after Red's first shot, the page fits the game again in the middle of play.
async function phone(browser, url, width, height, mode, turnedMode = null) {
  const what = `${width} x ${height}`;
  const page = await open(browser, url, { width, height, hasTouch: true, isMobile: true });
  const fit = await checkFit(page, what, mode);
  if (width < height && Math.abs(fit.c[2] - fit.c[0] - width) > 0.5) throw new Failure(`${what}: the game does not fill the width`);
  const setup = [[190, 340], [250, 340], [250, 340], [220, 340], [220, 340], ...Array(16).fill([160, 250]),
                 ...Array(3).fill([160, 295]), [315, 250], [315, 250], ...Array(4).fill([315, 295])];
  const sim = simPictures(args.sim, [...TITLE_CLICKS, "shot title", ...setup.map(([x, y]) => `click ${x} ${y}`), "shot setup"]);
  await pastIntro(page, tap, sim.title);
  for (const [x, y] of setup) await tap(page, x, y);
  await samePicture(page, `${what}: the title after its taps`, sim.setup, 5);
  await tap(page, 380, 340);
  await waitFor("play to begin", async () => / to fire/.test(await page.title()), 20);
  let pressed = false;
  const over = await waitFor("the game to end", async () => {
    const title = await page.title();
    if (/ wins| no side left/.test(title)) return title;
    if (/Red to fire/.test(title)) {
      if (!pressed) await pressAndRelease(page, what);
      pressed = true;
      await fire(page, what);
      if (turnedMode && mode !== turnedMode) {
        await page.setViewport({ width: height, height: width, hasTouch: true, isMobile: true });
        await waitFor("the page to fit again", () => page.evaluate((m) => document.body.dataset.fit.startsWith(m), turnedMode), 2);
        await checkFit(page, `${what} turned in play`, mode = turnedMode);
      }
    } else if (/Blue \(computer\) to fire/.test(title) && !/fast play/.test(title)) {
      await tap(page, 300, 200);  // a tap on the map: fast play
      await waitFor("fast play by a tap", async () => /fast play|Red to fire| wins| no side/.test(await page.title()), 5);
    }
    return false;
  }, 240);
  if (!pressed) throw new Failure(`${what}: Red never had a turn`);
  await checkFit(page, `${what} at the end`, mode);
  log(`${what}: played by taps to "${over}"`);
  await page.close();
}

// Red's turn by taps: each red icon on the map in turn, then Fire, until the turn passes (a city
// cannot fire, a silo or a submarine can).
async function fire(page, what) {
  const rgb = await canvasPixels(page), cells = new Map();
  for (let y = 0; y < 400; y++) for (let x = 0; x < 600; x++) {
    const i = (y * 600 + x) * 3;
    if (rgb[i] !== 255 || rgb[i + 1] > 150 || rgb[i + 2] > 150) continue;  // red ORed over the map
    const key = `${Math.floor(x / 12)},${Math.floor(y / 12)}`, cell = cells.get(key) || [0, 0, 0];
    cells.set(key, [cell[0] + x, cell[1] + y, cell[2] + 1]);
  }
  for (const [sx, sy, n] of [...cells.values()].sort((a, b) => b[2] - a[2]).slice(0, 12)) {
    await tap(page, Math.round(sx / n), Math.round(sy / n));
    await tap(page, 575, 430);  // Fire
    try {
      return await waitFor("the turn to pass", async () => !/Red to fire/.test(await page.title()), 1.5);
    } catch (e) { /* not a unit that fires: the next */ }
  }
  throw new Failure(`${what}: no red unit fired`);
}

// A touch held on the power arrow shows it down, and its release up again.
async function pressAndRelease(page, what) {
  const arrow = async () => {
    const rgb = await canvasPixels(page);
    const rows = [];
    for (let y = 431; y < 455; y++) rows.push(rgb.subarray((y * 600 + 501) * 3, (y * 600 + 525) * 3).join());
    return rows.join("|");
  };
  const up = await arrow();
  const box = await (await page.$("#canvas")).boundingBox();
  const s = box.width / 600;
  await page.touchscreen.touchStart(box.x + 512 * s, box.y + 442 * s);
  await waitFor(`${what}: the arrow drawn down`, async () => (await arrow()) !== up, 5);
  await page.touchscreen.touchEnd();
  await waitFor(`${what}: the arrow drawn up again`, async () => (await arrow()) === up, 5);
}

// Fullscreen where the browser offers it; where it does not, the page filled by the game alone.
async function fullscreen(browser, url) {
  let page = await open(browser, url, { width: 1280, height: 800 });
  await page.click("#fullscreen");
  await waitFor("fullscreen", () => page.evaluate(() => document.fullscreenElement === document.documentElement), 5);
  await page.close();
  page = await (await browser.createBrowserContext()).newPage();
  await page.evaluateOnNewDocument(() => {
    for (const name of ["fullscreenEnabled", "webkitFullscreenEnabled"])
      Object.defineProperty(Document.prototype, name, { get: () => false });
    delete Element.prototype.requestFullscreen;
    delete Element.prototype.webkitRequestFullscreen;
  });
  await page.setViewport({ width: 844, height: 390, hasTouch: true, isMobile: true });
  await page.goto(url);
  const before = await checkFit(page, "844 x 390 without fullscreen", "beside");
  await page.tap("#fullscreen");
  const after = await checkFit(page, "the full view", "menu");
  if (after.c[3] - after.c[1] < before.c[3] - before.c[1] || await page.$eval("#bar", (b) => b.offsetHeight) !== 0)
    throw new Failure("the full view is not the game alone");
  await page.tap("#menubutton");
  if (await page.$eval("#fullscreen", (b) => b.textContent) !== "Leave full view") throw new Failure("the menu has no way back");
  log("fullscreen: the page's element fills the screen; without it, the game alone fills the page");
  await page.close();
}

// A visit keeps the site; the next, with the server gone and the network cut, still starts a game.
async function offline(browser, server) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  await page.goto(server.url);
  await waitFor("the service worker", () => page.evaluate(async () =>
    (await navigator.serviceWorker.getRegistration())?.active?.state === "activated"), 60);
  server.close();
  await page.setOfflineMode(true);
  await page.reload();
  await page.waitForFunction(() => Module.calledRun, { timeout: 30000 });
  await pastIntro(page, clickGame, simPictures(args.sim, [...TITLE_CLICKS, "shot title"]).title);
  for (const x of [160, 190, 220, 250]) await clickGame(page, x, 340);
  await clickGame(page, 380, 340);
  await waitFor("play to begin offline", async () => / to fire/.test(await page.title()), 20);
  log("offline: the kept page, program and map start a game without the network");
  await page.close();
}

async function main() {
  const server = await serveSite(args.site);
  const browser = await launchBrowser();
  try {
    await keys(browser, server.url);
    await phone(browser, server.url, 390, 844, "below", "beside");
    await phone(browser, server.url, 844, 390, "beside");
    await fullscreen(browser, server.url);
    const failed = problems.filter((p) => !/ERR_INTERNET_DISCONNECTED/.test(p));
    if (failed.length) throw new Failure(failed.join("\n"));
    await offline(browser, server);
  } finally {
    await browser.close();
    server.close();
  }
}

main().then(() => { console.log("PASS"); process.exit(0); }, (e) => {
  console.error(`FAIL: ${e instanceof Failure ? e.message : e.stack}`);
  process.exit(1);
});
