// Can a real viewer use the live map while it is attacked? For each attack
// it starts a fresh world with the map, mounts the attack from loopback
// addresses, and has a viewer at 127.0.0.2 load the page and open its event
// stream N times each during it; it prints how many of each succeeded, and
// the world's CPU and log output over that time, min/median/max of RUNS.
//   node bench/map_attacks.mjs [BUILD_DIR] [RUNS] [N] [ATTACK,...]
// (defaults: build 3 5, every attack).
// The attacks:
//   half-sent    300 connections that send part of a request and wait
//   idle         3000 connections that send nothing
//   streams      200 event streams that are never read
//   snapshot     2200 tourists named with 59 '<' and a number each (their first events
//                pass a page's 1 MiB stream bound)
//   descriptors  the world out of file descriptors (nofile 1024, held by
//                tourists), then the viewer's requests
// An attacker's connection that is closed is opened again 100 ms later.
// Tourists are spread 8 to an address (127.0.1.0 on) across 22 worlds.
// A page load counts when the whole page came (status 200, "</html>"), a
// stream when its ready event came, each within 3 s. Needs node only.

import { execSync, spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import os from "node:os";
import path from "node:path";

const [build = "build", runsText = "3", countText = "5", only = ""] = process.argv.slice(2);
const runs = Number(runsText);
const count = Number(countText);
const worldProgram = path.join(path.resolve(build), "tintbeacon-world");
const VIEWER = "127.0.0.2";
const ATTACKER = "127.0.0.1";
const WORLDS = ["welcome", ...Array.from({ length: 21 }, (_, i) => `w${i + 1}`)];
const WINDOW_MS = 5000;  // the least time CPU and log are measured over
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function until(condition, ms, what) {
  const deadline = Date.now() + ms;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(20);
  }
}

// --- the world ---
async function startWorld(nofile) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tintbeacon-map-attacks-"));
  const log = fs.openSync(path.join(dir, "world.err"), "w");
  const args = ["--listen", "127.0.0.1:0", "--http", "127.0.0.1:0", "--max-clients", "20000",
                ...WORLDS.flatMap((w) => ["--world", w])];
  const child = nofile
    ? spawn("prlimit", [`--nofile=${nofile}:${nofile}`, worldProgram, ...args],
            { stdio: ["ignore", "pipe", log] })
    : spawn(worldProgram, args, { stdio: ["ignore", "pipe", log] });
  let out = "";
  child.stdout.on("data", (d) => (out += d));
  await until(() => /map on http:\/\/127\.0\.0\.1:(\d+)/.test(out), 10000, "the world");
  return {
    child, dir,
    port: Number(/listening on 127\.0\.0\.1:(\d+)/.exec(out)[1]),
    mapPort: Number(/map on http:\/\/127\.0\.0\.1:(\d+)/.exec(out)[1]),
    logPath: path.join(dir, "world.err"),
    joined: 0,
  };
}

async function stopWorld(world) {
  world.child.kill("SIGTERM");
  await Promise.race([new Promise((r) => world.child.on("exit", r)), sleep(3000)]);
  if (world.child.exitCode === null) world.child.kill("SIGKILL");
  fs.rmSync(world.dir, { recursive: true, force: true });
}

function cpuTicks(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return Number(fields[11]) + Number(fields[12]);  // utime + stime
}

// --- tourists, over the world protocol ---
function frame(type, fields) {
  const body = Buffer.concat([Buffer.from([type]), ...fields]);
  const length = Buffer.alloc(4);
  length.writeUInt32BE(body.length);
  return Buffer.concat([length, body]);
}
const u8 = (v) => Buffer.from([v]);
const i32 = (v) => { const b = Buffer.alloc(4); b.writeInt32BE(v); return b; };
const text8 = (s) => Buffer.concat([u8(Buffer.byteLength(s, "latin1")), Buffer.from(s, "latin1")]);
const hello = () => { const b = Buffer.alloc(6); b.writeUInt32BE(0x54425750); b.writeUInt16BE(1, 4); return frame(1, [b]); };

function tourist(world, index, name, sockets) {
  const from = `127.0.${1 + Math.floor(index / 8 / 250)}.${1 + (Math.floor(index / 8) % 250)}`;
  const socket = net.connect({ host: "127.0.0.1", port: world.port, localAddress: from });
  socket.on("connect", () => socket.write(Buffer.concat([
    hello(),
    frame(2, [u8(0), i32(0), u8(0), text8(name), text8(""), text8("map-attacks")]),
    frame(3, [text8(WORLDS[index % WORLDS.length])]),
  ])));
  // Joined once the replies to Hello, Login and Enter (14 bytes each) came.
  let received = 0;
  socket.on("data", (d) => { if (received < 42 && (received += d.length) >= 42) world.joined++; });
  socket.on("error", () => {});
  sockets.push(socket);
}

function loggedIn(world) {
  return world.joined;
}

// --- attackers on the map ---
function attackMap(world, connections, onConnect) {
  const sockets = new Set();
  let active = true;
  function open() {
    if (!active) return;
    const socket = net.connect({ host: "127.0.0.1", port: world.mapPort, localAddress: ATTACKER });
    sockets.add(socket);
    socket.on("connect", () => onConnect(socket));
    socket.on("error", () => {});
    socket.on("close", () => { sockets.delete(socket); setTimeout(open, 100); });
  }
  for (let i = 0; i < connections; ++i) open();
  return () => { active = false; for (const s of sockets) s.destroy(); };
}

const ATTACKS = {
  none: { label: "no attack", async mount() { return () => {}; } },
  "half-sent": {
    label: "300 half-sent requests from 127.0.0.1",
    async mount(world) {
      const stop = attackMap(world, 300, (s) => s.write("GET / HTTP/1.1\r\nHost: x\r\n"));
      await sleep(1000);
      return stop;
    },
  },
  idle: {
    label: "3000 idle connections from 127.0.0.1",
    async mount(world) {
      const stop = attackMap(world, 3000, () => {});
      await sleep(1500);
      return stop;
    },
  },
  streams: {
    label: "200 streams never read, from 127.0.0.1",
    async mount(world) {
      const stop = attackMap(world, 200, (s) => {
        s.write("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
        s.pause();
      });
      await sleep(1000);
      return stop;
    },
  },
  snapshot: {
    label: "2200 tourists named with 59 '<' and a number",
    async mount(world) {
      const sockets = [];
      for (let i = 0; i < 2200; ++i) {
        // 64 bytes, all '<' but a number: no two avatars of a world share a name.
        tourist(world, i, "<".repeat(59) + String(i).padStart(5, "0"), sockets);
        if (i % 100 === 99) await until(() => loggedIn(world) > i - 50, 20000, "tourists");
      }
      await until(() => loggedIn(world) >= 2200, 30000, "2200 tourists");
      await sleep(500);
      return () => sockets.forEach((s) => s.destroy());
    },
  },
  descriptors: {
    label: "world out of descriptors (nofile 1024)",
    nofile: 1024,
    async mount(world) {
      const sockets = [];
      for (let i = 0; i < 1100; ++i) {
        if (/out of file descriptors/.test(fs.readFileSync(world.logPath, "utf8"))) break;
        tourist(world, i, `Holder${i}`, sockets);
        if (i % 50 === 49) await sleep(100);
      }
      await until(() => /out of file descriptors/.test(fs.readFileSync(world.logPath, "utf8")),
                  10000, "the world to run out of descriptors");
      await sleep(500);
      return () => sockets.forEach((s) => s.destroy());
    },
  },
};

// --- the viewer ---
function loadPage(world) {
  return new Promise((done) => {
    const request = http.get({ host: "127.0.0.1", port: world.mapPort, path: "/",
                               localAddress: VIEWER, agent: false, timeout: 3000 }, (response) => {
      let body = "";
      response.setEncoding("utf8");
      response.on("data", (d) => (body += d));
      response.on("end", () => done(response.statusCode === 200 && body.includes("</html>")));
      response.on("error", () => done(false));
    });
    request.on("timeout", () => { request.destroy(); done(false); });
    request.on("error", () => done(false));
  });
}

function openStream(world) {
  return new Promise((done) => {
    let settled = false;
    const finish = (ok) => { if (!settled) { settled = true; request.destroy(); done(ok); } };
    const request = http.get({ host: "127.0.0.1", port: world.mapPort, path: "/events",
                               localAddress: VIEWER, agent: false }, (response) => {
      let tail = "";
      response.setEncoding("utf8");
      response.on("data", (d) => {
        tail = (tail + d).slice(-64);
        if (tail.includes('{"type":"ready"}')) finish(response.statusCode === 200);
      });
      response.on("end", () => finish(false));
      response.on("error", () => finish(false));
    });
    setTimeout(() => finish(false), 3000);
    request.on("error", () => finish(false));
  });
}

async function runAttack(name) {
  const attack = ATTACKS[name];
  const world = await startWorld(attack.nofile);
  try {
    const stop = await attack.mount(world);
    const hz = Number(execSync("getconf CLK_TCK"));
    const ticks = cpuTicks(world.child.pid);
    const logBytes = fs.statSync(world.logPath).size;
    const started = Date.now();
    let pages = 0, streams = 0;
    for (let i = 0; i < count; ++i) {
      if (await loadPage(world)) ++pages;
      if (await openStream(world)) ++streams;
    }
    const rest = WINDOW_MS - (Date.now() - started);
    if (rest > 0) await sleep(rest);
    const seconds = (Date.now() - started) / 1000;
    const cpu = (100 * (cpuTicks(world.child.pid) - ticks)) / hz / seconds;
    const logRate = (fs.statSync(world.logPath).size - logBytes) / 1024 / seconds;
    stop();
    return { pages, streams, cpu, logRate };
  } finally {
    await stopWorld(world);
  }
}

const stats = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  return [sorted[0], sorted[Math.floor((sorted.length - 1) / 2)], sorted[sorted.length - 1]];
};
const show = (values, digits = 0) => stats(values).map((v) => v.toFixed(digits)).join("/");

console.log(`the live map under attack: a viewer at ${VIEWER} tries ${count} page loads and ` +
            `${count} streams during each; min/median/max of ${runs} runs`);
// The load average, marked when the machine is too busy for figures to count.
const loadText = () =>
  os.loadavg().map((v) => v.toFixed(2)).join(" ") + (os.loadavg()[0] > 1.0 ? " **above 1.0**" : "");
console.log(`load average before: ${loadText()}`);
console.log(`${"attack".padEnd(42)} ${`pages of ${count}`.padStart(11)} ${`streams of ${count}`.padStart(13)} ` +
            `${"world CPU %".padStart(17)} ${"log KiB/s".padStart(17)}`);
for (const name of only ? only.split(",") : Object.keys(ATTACKS)) {
  const results = [];
  for (let run = 0; run < runs; ++run) results.push(await runAttack(name));
  console.log(`${ATTACKS[name].label.padEnd(42)} ${show(results.map((r) => r.pages)).padStart(11)} ` +
              `${show(results.map((r) => r.streams)).padStart(13)} ` +
              `${show(results.map((r) => r.cpu), 1).padStart(17)} ` +
              `${show(results.map((r) => r.logRate), 1).padStart(17)}`);
}
console.log(`load average after: ${loadText()} (the benchmark's own work is in it)`);
console.log(`world: ${worldProgram}`);
console.log(`repeat: node bench/map_attacks.mjs ${build} ${runs} ${count}${only ? " " + only : ""}`);
