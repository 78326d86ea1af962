// The browser build in Debian's Chromium, driven headless: the page shows the same intro and title
// as vantor-sim, pixel for pixel; title clicks do what they do in vantor-sim; a game of four
// computer sides plays to its end and returns to the title; nothing is written to the console.
//
//   node web_test.mjs --site SITE --sim VANTOR_SIM --artefacts DIR
import { copyFileSync, mkdtempSync, mkdirSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { Failure, clickGame as click, commandLine, launchBrowser, log, pastIntro, samePicture, serveSite,
         simPictures as simOf, waitFor } from "./page.mjs";

const args = commandLine();
const simPictures = (lines, maps) => simOf(args.sim, lines, maps);
const waitForPicture = (page, what, expected, seconds) => samePicture(page, what, expected, seconds, args.artefacts);
const clickPastIntro = (page, what, expected) => pastIntro(page, click, what, expected, args.artefacts);

async function main() {
  mkdirSync(args.artefacts, { recursive: true });
  const server = await serveSite(args.site);
  const url = server.url;
  const browser = await launchBrowser();
  const problems = [];
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 1000 });
    page.on("console", (m) => { if (m.type() === "error") problems.push(`console: ${m.text()}`); });
    page.on("pageerror", (e) => problems.push(`page error: ${e.message}`));
    page.on("requestfailed", (r) => problems.push(`request failed: ${r.url()}`));
    await page.goto(url);
    const title = await page.title();
    if (title !== "Vantor") throw new Failure(`the page's title is "${title}"`);

    const sim = simPictures(["tick 20", "shot intro", "click 300 200", "shot title", "click 270 250", "shot cities"]);
    await waitForPicture(page, "intro", sim.intro, 30);
    await clickPastIntro(page, "title", sim.title);
    await click(page, 270, 250);
    await waitForPicture(page, "one more city", sim.cities, 5);

    // A pair of the player's own, added with the page's file button: listed before the built-in
    // maps under the same rules as on the desktop, a bad pair refused with its line at the start.
    const maps = mkdtempSync(join(tmpdir(), "vantor-web-maps-"));
    const quad = join(dirname(fileURLToPath(import.meta.url)), "../sim/impact-last-launcher/Quad");
    copyFileSync(`${quad}.map`, join(maps, "Mine.map"));
    copyFileSync(`${quad}.tac`, join(maps, "Mine.tac"));
    writeFileSync(join(maps, "Bad.map"), "not a picture");
    copyFileSync(`${quad}.tac`, join(maps, "Bad.tac"));
    const mine = [join(maps, "Mine.map"), join(maps, "Mine.tac")];
    const both = [...mine, join(maps, "Bad.map"), join(maps, "Bad.tac")];
    const prefix = ["tick 20", "click 300 200", "click 270 250"];
    const simMine = simPictures([...prefix, "shot mine"], mine);
    const simBad = simPictures([...prefix, "click 380 340", "shot bad"], both);
    const simKept = simPictures(["tick 20", "click 300 200", "shot kept"], both);
    // The page says which files it added once they are written; the game then takes them in.
    const added = async (files) => {
      await (await page.$("#mapfiles")).uploadFile(...files);
      const last = basename(files[files.length - 1]);
      await page.waitForFunction((name) => document.getElementById("status").textContent.includes(name) &&
                                           Module.mapsAdded === 0, { timeout: 10000 }, last);
    };
    await added(mine);
    await click(page, 160, 207);  // the chosen map stays World: the previous one is Mine
    await waitForPicture(page, "own map listed", simMine.mine, 5);
    await added(both.slice(2));
    await click(page, 160, 207);  // before Mine comes Bad
    await click(page, 380, 340);
    await waitForPicture(page, "bad pair refused", simBad.bad, 5);
    // The pairs are kept in the browser for the next visit.
    await page.reload();
    await waitForPicture(page, "intro again", sim.intro, 30);
    await clickPastIntro(page, "own maps kept", simKept.kept);
    log("own maps: listed, refused when bad, kept for the next visit");
    for (let i = 0; i < 2; i++) await click(page, 425, 207);  // on to World

    // Four computer sides on the built-in World map, small forces, fast play: to the end and back.
    for (const x of [160, 190, 220, 250]) await click(page, x, 340);
    for (let i = 0; i < 16; i++) await click(page, 160, 250);   // cities down to 1
    for (let i = 0; i < 3; i++) await click(page, 160, 295);    // no submarines
    for (let i = 0; i < 2; i++) await click(page, 315, 250);    // silos down to 2
    for (let i = 0; i < 4; i++) await click(page, 315, 295);    // skill 0: the computer aims true
    await page.keyboard.press("f");
    await click(page, 380, 340);
    await waitFor("play to begin", async () => / to fire/.test(await page.title()), 20);
    log(`play began: "${await page.title()}"`);
    const over = await waitFor("the game to end", async () => {
      const t = await page.title();
      return / wins| no side left/.test(t) && t;
    }, 240);
    log(`game over: "${over}"`);
    await waitFor("the title screen again", async () => (await page.title()) === "Vantor", 30);
    log("back on the title screen");
    if (problems.length) throw new Failure(problems.join("\n"));
    log("no errors in the console");
  } finally {
    await browser.close();
    server.close();
  }
}

main().then(() => { console.log("PASS"); process.exit(0); }, (e) => {
  console.error(`FAIL: ${e instanceof Failure ? e.message : e.stack}`);
  process.exit(1);
});
