// Does the live map's page keep up with a crowd? Starts a world with the map,
// the bot and a crowd, opens the page in Debian's chromium (headless), and
// reports the page's frames per second, its longest frame, and whether it
// shows every avatar and the crowd's lines while they come.
//   node bench/map_page_load.mjs [BUILD_DIR] [AVATARS] [SECONDS] [RATE]
// (defaults: build 1000 20 5; needs `npm ci` in tests/browser first).

import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const here = path.dirname(new URL(import.meta.url).pathname);
const require = createRequire(path.join(here, "../tests/browser/package.json"));
const { chromium } = require("playwright-core");

const [build = "build", avatars = "1000", seconds = "20", rate = "5"] = process.argv.slice(2);
const bin = path.resolve(build);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tintbeacon-page-load-"));
const children = [];
function start(program, args, options = {}) {
  const child = spawn(program, args, { stdio: ["ignore", "pipe", "pipe"], ...options });
  child.output = "";
  child.stdout.on("data", (d) => (child.output += d));
  child.stderr.on("data", () => {});
  children.push(child);
  return child;
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
async function until(condition, ms = 15000) {
  const deadline = Date.now() + ms;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error("timed out");
    await sleep(50);
  }
}

let context;
try {
  const world = start(path.join(bin, "tintbeacon-world"),
    ["--listen", "127.0.0.1:0", "--http", "127.0.0.1:0", "--citizen", "1:demo:bot", "--exempt", "127.0.0.1"]);
  await until(() => /map on (http:\S+)/.test(world.output));
  const port = /listening on 127\.0\.0\.1:(\d+)/.exec(world.output)[1];
  const url = /map on (http:\S+)/.exec(world.output)[1];
  fs.writeFileSync(path.join(dir, "address.txt"), `127.0.0.1\n${port}\n`);
  fs.writeFileSync(path.join(dir, "home.txt"), "welcome\n0N 0W\n");
  fs.writeFileSync(path.join(dir, "account.txt"), "1\ndemo\nyes\n0.4\n");
  start(path.join(bin, "tintbeacon"), [], { cwd: dir });
  await sleep(1000);

  context = await chromium.launchPersistentContext(fs.mkdtempSync(path.join(dir, "chromium-")), {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    bypassCSP: true,
    viewport: { width: 1400, height: 820 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  const page = context.pages()[0] || (await context.newPage());
  await page.goto(url);
  const crowd = start(path.join(bin, "tintbeacon-avatar"),
    ["--crowd", avatars, "--server", port, "--rate", rate, "--seconds", seconds]);
  await page.waitForFunction((n) => window.liveMap.state.avatars.size >= n, Number(avatars) + 1,
    { timeout: 60000 });
  await page.keyboard.press("f");
  // Frames and the page's own counters over a window while the crowd talks.
  const window = Math.max(3, Number(seconds) - 8) * 1000;
  const result = await page.evaluate(async (ms) => {
    const frames = [];
    const saidBefore = window.liveMap.state.totals.said;
    const start = performance.now();
    await new Promise((done) => {
      function tick(t) {
        frames.push(t);
        if (t - start < ms) requestAnimationFrame(tick); else done();
      }
      requestAnimationFrame(tick);
    });
    let longest = 0;
    for (let i = 1; i < frames.length; ++i) longest = Math.max(longest, frames[i] - frames[i - 1]);
    return {
      fps: (frames.length - 1) / ((frames[frames.length - 1] - frames[0]) / 1000),
      longestFrameMs: longest,
      said: window.liveMap.state.totals.said - saidBefore,
      avatars: window.liveMap.state.avatars.size,
      rows: document.querySelectorAll("#avatars tr").length,
      receiversPerS: Number(document.getElementById("cReceivers").textContent),
    };
  }, window);
  await page.screenshot({ path: path.join(bin, "map-page-load.png") });
  await new Promise((r) => crowd.on("exit", r));
  console.log(`live map page with ${avatars} avatars, ${rate} lines/s, over ${window / 1000} s:`);
  console.log(`  frames/s ${result.fps.toFixed(1)}, longest frame ${result.longestFrameMs.toFixed(0)} ms`);
  console.log(`  avatars shown ${result.avatars}, list rows ${result.rows}, lines said seen ${result.said}, receivers/s shown ${result.receiversPerS}`);
  console.log(`  screenshot ${path.join(bin, "map-page-load.png")}`);
  console.log(`repeat: node bench/map_page_load.mjs ${build} ${avatars} ${seconds} ${rate}`);
} finally {
  if (context) await context.close().catch(() => {});
  for (const child of children) child.kill("SIGTERM");
  await sleep(300);
  for (const child of children) if (child.exitCode === null) child.kill("SIGKILL");
  fs.rmSync(dir, { recursive: true, force: true });
}
