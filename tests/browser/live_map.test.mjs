// The live map in a real browser: Debian's chromium, headless, driven by
// playwright-core. A real world server with the map, the real bot and
// scripted avatars; the page must show the avatars where they stand, a said
// line, and the bot's relayed copy drawn in its color to the right receivers.
//
// Environment: TINTBEACON_BIN_DIR (the build folder with the programs),
// TINTBEACON_SCREENSHOT (where the screenshot goes; default in the build
// folder), CHROMIUM (default /usr/bin/chromium).

import { test } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const BIN = process.env.TINTBEACON_BIN_DIR || path.resolve("../../build");
const SHOT = process.env.TINTBEACON_SCREENSHOT || path.join(BIN, "browser", "live-map.png");
const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
const UTF8 = { ...process.env, LC_ALL: "C.UTF-8", LANG: "C.UTF-8" };
const RELAY = 20000;
const COLOR = [200, 30, 30];

// The scene: the bot stands at 0N 0W; Ann is a citizen who picks a color.
const AVATARS = [
  { name: "Ann", at: "2N 3W", citizen: 7, password: "seven" },
  { name: "Bob", at: "60N 60W" },
  { name: "Cora", at: "6N 9E" },
  { name: "Dan", at: "45S 50E" },
  { name: "Eve", at: "30N 25E" },
  { name: "Finn", at: "12S 40W" },
  { name: "Gus", at: "18N 8W" },
  { name: "Hana", at: "-8N 21E" },
];
// The same positions in units: x west-positive, z north-positive.
function units(at) {
  const [ns, ew] = at.split(" ");
  const z = parseFloat(ns) * 1000 * (ns.endsWith("N") ? 1 : -1);
  const x = parseFloat(ew) * 1000 * (ew.endsWith("W") ? 1 : -1);
  return { x, z };
}
// "-8N" names 8S; the page writes it the bot's way.
function shown(at) {
  const { x, z } = units(at);
  const n = (v) => String(Math.abs(v) / 1000);
  return n(z) + (z >= 0 ? "N" : "S") + " " + n(x) + (x >= 0 ? "W" : "E");
}

const children = [];
function start(program, args, options = {}) {
  const child = spawn(program, args, { stdio: ["pipe", "pipe", "pipe"], ...options });
  child.output = "";
  child.stdout.on("data", (d) => (child.output += d));
  child.errors = "";
  child.stderr.on("data", (d) => (child.errors += d));
  children.push(child);
  return child;
}
async function eventually(what, condition, ms = 15000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > deadline) throw new Error("timed out waiting for " + what);
    await new Promise((r) => setTimeout(r, 50));
  }
}

test("the live map shows avatars, said lines and relayed copies", async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tintbeacon-map-"));
  let browser;
  t.after(async () => {
    if (browser) await browser.close().catch(() => {});
    for (const child of children) {
      child.stdin.end();
      child.kill("SIGTERM");
    }
    await new Promise((r) => setTimeout(r, 200));
    for (const child of children) if (child.exitCode === null) child.kill("SIGKILL");
    fs.rmSync(dir, { recursive: true, force: true });
  });

  const world = start(path.join(BIN, "tintbeacon-world"),
    ["--listen", "127.0.0.1:0", "--http", "127.0.0.1:0", "--citizen", "1:demo:bot", "--citizen", "7:seven"]);
  const ready = await eventually("the world's ready lines", () =>
    /^tintbeacon-world listening on 127\.0\.0\.1:(\d+)\ntintbeacon-world map on (http:\/\/127\.0\.0\.1:\d+\/)\n/.exec(world.output));
  const [, worldPort, mapUrl] = ready;

  fs.writeFileSync(path.join(dir, "address.txt"), `127.0.0.1\n${worldPort}\n`);
  fs.writeFileSync(path.join(dir, "home.txt"), "welcome\n0N 0W\n");
  fs.writeFileSync(path.join(dir, "account.txt"), "1\ndemo\nyes\n0.4\n");
  start(path.join(BIN, "tintbeacon"), [], { cwd: dir, env: UTF8 });

  const avatars = {};
  for (const a of AVATARS) {
    const args = ["--script", "--server", worldPort, "--name", a.name, "--at", a.at];
    if (a.citizen) args.push("--citizen", String(a.citizen), "--password", a.password);
    avatars[a.name] = start(path.join(BIN, "tintbeacon-avatar"), args, { env: UTF8 });
  }
  for (const a of AVATARS) {
    const line = await eventually(a.name + " ready", () => /"event":"ready","session":(\d+)/.exec(avatars[a.name].output));
    a.session = Number(line[1]);
  }

  const userData = fs.mkdtempSync(path.join(dir, "chromium-"));
  const context = await chromium.launchPersistentContext(userData, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1400, height: 820 },
    bypassCSP: true,  // the test's own probes are evaluated scripts
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  browser = context;
  const page = context.pages()[0] || await context.newPage();
  const pageErrors = [];
  page.on("pageerror", (e) => pageErrors.push(String(e)));
  await page.goto(mapUrl);

  // Everyone is listed, with session and position in the bot's form.
  await page.waitForFunction((n) => document.querySelectorAll("#avatars tr:not([hidden])").length === n,
    AVATARS.length + 1, { timeout: 15000 });
  // Every avatar has stood at its spot by now: fit the view to them all.
  await eventually("positions", () => page.evaluate((list) => list.every((a) => {
    const m = window.liveMap.state.avatars.get(a.session);
    return m && m.x === a.x && m.z === a.z;
  }), AVATARS.map((a) => ({ session: a.session, ...units(a.at) }))));
  await page.keyboard.press("f");
  await page.waitForTimeout(300);
  const rows = await page.$$eval("#avatars tr", (trs) => trs.map((tr) => [...tr.cells].map((c) => c.textContent)));
  for (const a of AVATARS) {
    assert.deepEqual(rows.find((r) => r[0] === a.name), [a.name, String(a.session), shown(a.at)]);
  }
  const botRow = rows.find((r) => r[0] === "[Tintbeacon]");
  assert.ok(botRow, "the bot is listed");
  assert.equal(botRow[2], "0N 0W");
  assert.equal(await page.textContent("#cAvatars"), String(AVATARS.length + 1));

  // The dots: north up, east to the right, distances to scale, each dot drawn.
  const screen = await page.evaluate((list) => Object.fromEntries(list.map((s) => [s, window.liveMap.screenOf(s)])),
    AVATARS.map((a) => a.session));
  const ann = AVATARS[0];
  const annAt = units(ann.at);
  let scale = null;
  for (const a of AVATARS.slice(1)) {
    const p = units(a.at);
    const dx = screen[a.session].canvasX - screen[ann.session].canvasX;
    const dy = screen[a.session].canvasY - screen[ann.session].canvasY;
    // East (x smaller) is to the right; north (z larger) is up.
    assert.equal(Math.sign(dx), Math.sign(annAt.x - p.x) || 0, a.name + " east-west");
    assert.equal(Math.sign(dy), Math.sign(annAt.z - p.z) || 0, a.name + " north-south");
    const s = Math.hypot(dx, dy) / Math.hypot(annAt.x - p.x, annAt.z - p.z);
    scale = scale ?? s;
    assert.ok(Math.abs(s - scale) / scale < 0.01, a.name + " to scale");
  }
  const dotColors = await page.evaluate((list) => {
    const canvas = document.getElementById("map");
    const ctx = canvas.getContext("2d");
    const ratio = canvas.width / canvas.clientWidth;
    return list.map((s) => {
      const p = window.liveMap.screenOf(s);
      return [...ctx.getImageData(Math.round(p.canvasX * ratio), Math.round(p.canvasY * ratio), 1, 1).data];
    });
  }, AVATARS.map((a) => a.session));
  for (const [i, c] of dotColors.entries()) {
    // Citizens are drawn blue (#3b6fd4), tourists grey (#8e99a6).
    const want = AVATARS[i].citizen ? [0x3b, 0x6f, 0xd4] : [0x8e, 0x99, 0xa6];
    assert.ok(c.slice(0, 3).every((v, k) => Math.abs(v - want[k]) < 12), AVATARS[i].name + " dot: " + c);
  }

  // Ann picks a color, is selected on the map, and says a line that needs escaping.
  avatars.Ann.stdin.write(`!color ${COLOR.join(" ")}\n`);
  await page.waitForFunction((s) => [...document.querySelectorAll("#log li.console")]
    .some((li) => li.dataset.speaker === String(s)), ann.session, { timeout: 15000 });
  const annScreen = screen[ann.session];
  await page.mouse.click(annScreen.x, annScreen.y);
  assert.match(await page.textContent("#selection"), /^Ann \(session \d+, 2N 3W\)/);

  const line = 'Hi <b>"all"</b> & \\ привет';
  avatars.Ann.stdin.write(line + "\n");
  const saidText = "Ann: " + line;
  await page.waitForFunction((text) => [...document.querySelectorAll("#log li.said")]
    .some((li) => li.textContent.endsWith(text)), saidText, { timeout: 15000 });
  assert.equal(await page.$$eval("#log b", (b) => b.length), 0, "said text is inserted as text");

  const relayText = "Ann:\t" + line;
  const relay = await page.waitForFunction((text) => {
    const li = [...document.querySelectorAll("#log li.console")].find((e) => e.textContent.endsWith(text));
    return li && { speaker: li.dataset.speaker, receivers: li.dataset.receivers, rgb: li.dataset.rgb, color: li.style.color };
  }, relayText, { timeout: 15000 }).then((h) => h.jsonValue());
  // The bot's rule: every avatar more than 20000 away on some axis (the bot
  // stands apart and is not sent its own copies).
  const expected = AVATARS.filter((a) => {
    const p = units(a.at);
    return a !== ann && (Math.abs(p.x - annAt.x) > RELAY || Math.abs(p.z - annAt.z) > RELAY);
  }).map((a) => a.session).sort((a, b) => a - b);
  assert.equal(relay.speaker, String(ann.session));
  assert.deepEqual(relay.receivers.split(",").map(Number).sort((a, b) => a - b), expected);
  assert.equal(relay.rgb, COLOR.join(","));
  assert.equal(relay.color, `rgb(${COLOR.join(", ")})`);

  // On the canvas: a line in that color from Ann toward each receiver, and
  // none toward an avatar who hears Ann directly.
  const sampled = await page.evaluate(async ([from, sessions, color]) => {
    await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
    const canvas = document.getElementById("map");
    const ctx = canvas.getContext("2d");
    const ratio = canvas.width / canvas.clientWidth;
    const a = window.liveMap.screenOf(from);
    const result = {};
    for (const s of sessions) {
      const b = window.liveMap.screenOf(s);
      let hits = 0;
      for (const t of [0.3, 0.5, 0.7]) {
        const x = Math.round((a.canvasX + (b.canvasX - a.canvasX) * t) * ratio);
        const y = Math.round((a.canvasY + (b.canvasY - a.canvasY) * t) * ratio);
        const d = ctx.getImageData(x - 2, y - 2, 5, 5).data;
        for (let i = 0; i < d.length; i += 4) {
          if (Math.abs(d[i] - color[0]) < 40 && Math.abs(d[i + 1] - color[1]) < 40 && Math.abs(d[i + 2] - color[2]) < 40) { hits++; break; }
        }
      }
      result[s] = hits;
    }
    return result;
  }, [ann.session, AVATARS.map((a) => a.session).filter((s) => s !== ann.session), COLOR]);
  fs.mkdirSync(path.dirname(SHOT), { recursive: true });
  await page.waitForTimeout(400);  // the counters catch up; the lines are still drawn
  const counters = await page.evaluate(() => ["cSaid", "cConsole", "cReceivers"].map((id) => Number(document.getElementById(id).textContent)));
  await page.screenshot({ path: SHOT });
  for (const a of AVATARS.slice(1)) {
    if (expected.includes(a.session)) assert.equal(sampled[a.session], 3, "a line to " + a.name);
    else assert.equal(sampled[a.session], 0, "no line to " + a.name);
  }
  // Two said lines, three console messages (the color's confirmation and two
  // relayed lines, to five receivers each) within the counters' window.
  assert.deepEqual(counters, [0.4, 0.6, 2.2]);
  assert.deepEqual(pageErrors, []);
});
