// Where the time to the first frame goes: a DevTools trace of the page's load in headless Chromium
// (as tools/web/measure.mjs loads it: a running browser, an empty cache, gzip), cut at the first
// drawn frame and summed up: when each file arrived, and the main thread's work by kind.
//   node tools/web/profile.mjs [SITE] [--trace FILE]   (needs `npm ci` in tests/web)
import { writeFileSync } from "node:fs";
import { join, resolve } from "node:path";
import { root, serveSite, openPage } from "./loadpage.mjs";

const argv = process.argv.slice(2);
const traceFile = argv.includes("--trace") ? argv[argv.indexOf("--trace") + 1] : null;
const site = resolve(argv.find((a, i) => !a.startsWith("--") && argv[i - 1] !== "--trace") || join(root, "build/web/game/site"));
const served = await serveSite(site);
const { browser, page } = await openPage("profile");
// The JavaScript and WebAssembly functions on the main thread, sampled every 100 microseconds.
const cdp = await page.createCDPSession();
await cdp.send("Profiler.enable");
await cdp.send("Profiler.setSamplingInterval", { interval: 100 });
await cdp.send("Profiler.start");
await page.tracing.start({ categories: ["devtools.timeline", "disabled-by-default-devtools.timeline", "v8", "v8.execute",
                                        "v8.wasm", "disabled-by-default-v8.wasm", "blink.user_timing", "loading", "netlog"] });
await page.goto(served.url);
await page.waitForFunction(() => window.firstFrame, { polling: 50, timeout: 60000 });
const firstFrame = await page.evaluate(() => window.firstFrame);
const trace = JSON.parse(Buffer.from(await page.tracing.stop()).toString("utf8"));
const { profile } = await cdp.send("Profiler.stop");
if (traceFile) writeFileSync(traceFile, JSON.stringify(trace));
await browser.close();
served.server.close();

const events = trace.traceEvents;
const http = (e) => e.name === "ResourceSendRequest" && /^http:\/\/127/.test(e.args?.data?.url || "");
const first = events.filter(http).sort((a, b) => a.ts - b.ts)[0];
const pid = first.pid, tid = first.tid;
const t0 = Math.max(...events.filter((e) => e.pid === pid && e.name === "navigationStart" && e.ts <= first.ts).map((e) => e.ts));
const end = t0 + firstFrame * 1000;
const ms = (ts) => ((ts - t0) / 1000).toFixed(0).padStart(5);
console.log(`first drawn frame: ${firstFrame.toFixed(0)} ms after navigation`);
console.log("files (requested, in):");
for (const send of events.filter((e) => http(e) && e.pid === pid && e.ts <= end)) {
  const done = events.find((e) => e.name === "ResourceFinish" && e.args?.data?.requestId === send.args.data.requestId);
  const name = send.args.data.url.replace(/^http:\/\/[^/]+\//, "") || "index.html";
  console.log(`  ${ms(send.ts)} ${done ? ms(done.ts) : "    -"} ms  ${name}`);
}
console.log("the program's compilation and start (ms):");
for (const name of ["wasm.StartStreamingCompilation", "wasm.BaselineFinished", "wasm.FinishStreaming", "wasm.AsyncInstantiate",
                    "wasm.SyncInstantiate"]) {
  const e = events.find((x) => x.pid === pid && x.name === name && x.ts >= t0);
  if (e) console.log(`  ${ms(e.ts)}${e.dur ? ` to ${ms(e.ts + e.dur)}` : ""}  ${name}`);
}
// The main thread's tasks up to the first frame, each put down to the longest piece of work in it.
const onMain = events.filter((e) => e.pid === pid && e.tid === tid && e.ph === "X" && e.ts >= t0 && e.ts <= end);
const tasks = onMain.filter((e) => e.name === "RunTask");
const kinds = new Map();
let busy = 0;
for (const task of tasks) {
  busy += task.dur;
  const inner = onMain.filter((e) => e !== task && e.name !== "RunTask" && e.ts >= task.ts && e.ts + e.dur <= task.ts + task.dur)
                      .sort((a, b) => b.dur - a.dur)[0];
  const url = (inner?.args?.data?.url || inner?.args?.data?.stackTrace?.[0]?.url || "").replace(/^.*\//, "");
  const name = inner ? `${inner.name}${url ? ` ${url}` : ""}` : "(small)";
  kinds.set(name, (kinds.get(name) || 0) + task.dur);
}
console.log(`main thread busy ${(busy / 1000).toFixed(0)} ms of ${firstFrame.toFixed(0)}, by kind:`);
for (const [name, dur] of [...kinds].sort((a, b) => b[1] - a[1]).slice(0, 10))
  console.log(`  ${(dur / 1000).toFixed(1).padStart(6)} ms  ${name}`);
// The functions that took the most time of their own, as sampled, up to the first frame.
const selfTime = new Map(), byId = new Map(profile.nodes.map((n) => [n.id, n]));
for (let i = 0, at = profile.startTime; i < profile.samples.length; i++) {
  at += profile.timeDeltas[i] || 0;
  if (at < t0 || at > end) continue;
  const frame = byId.get(profile.samples[i]).callFrame;
  const name = `${frame.functionName || "(anonymous)"} ${frame.url.replace(/^.*\//, "")}`.trim();
  selfTime.set(name, (selfTime.get(name) || 0) + (profile.timeDeltas[i] || 0));
}
console.log("functions by time of their own up to the first frame (sampled; numbers are the script's inline pieces):");
for (const [name, us] of [...selfTime].sort((a, b) => b[1] - a[1]).slice(0, 12))
  console.log(`  ${(us / 1000).toFixed(1).padStart(6)} ms  ${name}`);
