// Pictures of the browser build's page in headless Chromium for the README, in docs/screens/:
//   web-1280x800.png, web-1920x1080.png    the title screen in a desktop browser's window
//   web-phone-upright.png                   a game in play on a phone held upright (390 x 844, touch)
//   web-phone-sideways.png                  the same held sideways (844 x 390)
//   web-help.png                            the help over the page (844 x 390)
//   node tools/web/screenshots.mjs [SITE] [--pixelated]   (needs `npm ci` in tests/web)
// --pixelated draws the game's scales below 1 unsmoothed instead, to compare (into /tmp).
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const { launchBrowser, serveSite } = await import(join(root, "tests/web/page.mjs"));
const site = resolve(process.argv.slice(2).find((a) => !a.startsWith("--")) || join(root, "build/web/game/site"));
const pixelated = process.argv.includes("--pixelated");
const server = await serveSite(site);
const browser = await launchBrowser();
const pause = (ms) => new Promise((r) => setTimeout(r, ms));

async function shoot(name, viewport, { play = false, help = false } = {}) {
  const page = await (await browser.createBrowserContext()).newPage();
  await page.setViewport(viewport);
  await page.goto(server.url);
  await page.waitForFunction(() => Module.calledRun, { timeout: 30000 });
  if (pixelated) await page.addStyleTag({ content: "canvas { image-rendering: pixelated !important; }" });
  await pause(2500);
  const press = async (x, y) => {
    const box = await (await page.$("#canvas")).boundingBox();
    const s = box.width / 600;
    if (viewport.hasTouch) await page.touchscreen.tap(box.x + x * s, box.y + y * s);
    else await page.mouse.click(box.x + x * s, box.y + y * s);
  };
  await press(300, 200);
  await pause(1000);
  if (play) {
    for (const x of [190, 220, 250]) await press(x, 340);  // Red a person, the others the computer
    await press(380, 340);
    await page.waitForFunction(() => / to fire/.test(document.title), { timeout: 30000 });
    await pause(6000);
  }
  if (help) await page.click("#helpbutton");
  const path = pixelated ? `/tmp/${name}-pixelated.png` : join(root, `docs/screens/${name}.png`);
  await page.screenshot({ path });
  console.log(path);
  await page.close();
}

const phone = { isMobile: true, hasTouch: true, deviceScaleFactor: 1 };
if (!pixelated) {
  await shoot("web-1280x800", { width: 1280, height: 800 });
  await shoot("web-1920x1080", { width: 1920, height: 1080 });
  await shoot("web-help", { width: 844, height: 390, ...phone }, { help: true });
}
await shoot("web-phone-upright", { width: 390, height: 844, ...phone }, { play: true });
await shoot("web-phone-sideways", { width: 844, height: 390, ...phone }, { play: true });
await browser.close();
server.close();
