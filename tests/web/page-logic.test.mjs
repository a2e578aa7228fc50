// The reference page's light protocol and list rules, run under Node from the
// page itself: the block <script id="page-logic"> is read out of
// web/index.html, so these tests check exactly what the page runs.
//   node --test tests/web/

import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";

const page = readFileSync(new URL("../../web/index.html", import.meta.url), "utf8");
const block = /<script id="page-logic">([\s\S]*?)<\/script>/.exec(page);
assert.ok(block, 'web/index.html has no <script id="page-logic"> block');
// In this realm, so that its arrays and objects compare with the tests' own.
const L = new Function(`${block[1]}\nreturn PageLogic;`)();

// A frame's hex text from its leading bytes, padded by hand, checksum given.
const expect = (head, sum) => head + "00".repeat(19 - head.length / 2) + sum;

test("commands make 20-byte frames whose last byte is the XOR of the others", () => {
  const cases = [
    ["power on", L.command.power(true), expect("330101", "33")],
    ["power off", L.command.power(false), expect("330100", "32")],
    ["brightness 40%", L.command.brightness(40), expect("330428", "1f")],
    ["brightness is at least 1%", L.command.brightness(0), expect("330401", "36")],
    ["brightness is at most 100%", L.command.brightness(250), expect("330464", "53")],
    ["brightness is a whole percent", L.command.brightness(40.6), expect("330429", "1e")],
    ["colour on all 15 segments", L.command.colour({ r: 0xff, g: 0x5a, b: 0x5f }),
     expect("33051501ff5a5f0000000000ff7f", "58")],
    ["white 3000 K with its preview", L.command.white(3000), expect("330515010000000bb8ffb16eff7f", "31")],
    ["white below the range is 2000 K", L.command.white(1000), expect("3305150100000007d0ff890eff7f", "0d")],
    ["scene code, little-endian", L.command.scene(0x1234), expect("3305043412", "14")],
    ["power query (keep-alive)", L.query.power, expect("aa01", "ab")],
    ["brightness query", L.query.brightness, expect("aa04", "ae")],
    ["mode query", L.query.mode, expect("aa05", "af")],
  ];
  for (const [name, frame, hex] of cases) {
    assert.equal(frame.length, 20, name);
    assert.equal(frame.reduce((x, b) => x ^ b, 0), 0, `${name}: checksum`);
    assert.equal(L.hex(frame), hex, name);
  }
});

test("a frame refuses more than 19 bytes and values that are not bytes", () => {
  assert.throws(() => L.frame(new Array(20).fill(0)), RangeError);
  assert.throws(() => L.frame([0x33, 256]), RangeError);
  assert.throws(() => L.frame([0x33, -1]), RangeError);
  assert.throws(() => L.frame([0x33, 1.5]), RangeError);
  assert.equal(L.hex(L.frame(new Array(19).fill(1))), "01".repeat(19) + "01");
});

test("each command is read back by the query that shows its effect", () => {
  for (const what of Object.keys(L.command)) assert.ok(L.query[L.readBack[what]], what);
});

test("replies from the light become its state; frames it can't vouch for say nothing", () => {
  const reply = (head) => L.hex(L.frame(L.bytesOf(head)));
  const cases = [
    ["power on", reply("aa0101"), { power: true }],
    ["power off", reply("aa0100"), { power: false }],
    ["brightness", reply("aa0464"), { brightness: 100 }],
    ["colour", reply("aa051501ff5a5f0000"),
     { mode: "colour", colour: { r: 255, g: 90, b: 95 }, kelvin: 0, scene: null }],
    ["white", reply("aa051501ffb16e0bb8"),
     { mode: "white", colour: { r: 255, g: 177, b: 110 }, kelvin: 3000, scene: null }],
    ["scene", reply("aa05043412"), { mode: "scene", scene: 0x1234 }],
    ["music", reply("aa051305"), { mode: "music", scene: null }],
    ["upper-case text", reply("aa0101").toUpperCase(), { power: true }],
    ["bad checksum", reply("aa0101").slice(0, 38) + "00", null],
    ["too short", reply("aa0101").slice(0, 38), null],
    ["too long", reply("aa0101") + "00", null],
    ["not hex", reply("aa0101").replace("aa", "zz"), null],
    ["odd length", "a", null],
    ["not text", 42, null],
    ["an acknowledgement", reply("3301"), null],
    ["brightness out of range", reply("aa0465"), null],
    ["power out of range", reply("aa0102"), null],
    ["firmware version", reply("aa06332e30322e3234"), null],
  ];
  for (const [name, text, state] of cases) assert.deepEqual(L.reply(text), state, name);
});

test("the summary says what the light reports", () => {
  assert.equal(L.summary({}), "Reading the light…");
  assert.equal(L.summary({ power: false, brightness: 100 }), "Off, 100%");
  assert.equal(L.summary({ power: true, brightness: 40, mode: "colour", colour: { r: 255, g: 0, b: 16 } }),
               "On, 40%, colour #ff0010");
  assert.equal(L.summary({ power: true, brightness: 5, mode: "white", kelvin: 3000 }), "On, 5%, white 3000 K");
  assert.equal(L.summary({ power: true, brightness: 5, mode: "scene", scene: 1 }), "On, 5%, Sunset");
  assert.equal(L.summary({ power: true, mode: "scene", scene: 77 }), "On, scene 77");
});

// A clock that only moves when told, with the timers it holds.
function fakeClock() {
  let now = 0, next = 1;
  const timers = new Map();
  return {
    now: () => now,
    setTimeout: (f, ms) => { timers.set(next, { at: now + ms, f }); return next++; },
    clearTimeout: (id) => timers.delete(id),
    advance(ms) {
      const end = now + ms;
      for (;;) {
        const due = [...timers].filter(([, t]) => t.at <= end).sort((a, b) => a[1].at - b[1].at)[0];
        if (!due) break;
        timers.delete(due[0]);
        now = due[1].at;
        due[1].f();
      }
      now = end;
    },
  };
}

test("a dragged slider sends at most one value per interval, and always the last", () => {
  const clock = fakeClock();
  const sent = [];
  const push = L.pacer((v) => sent.push([clock.now(), v]), 100, clock);

  push(1);  // the first goes at once
  assert.deepEqual(sent, [[0, 1]]);
  for (let v = 2; v <= 100; v++) {  // a drag: a value every 10 ms for about a second
    clock.advance(10);
    push(v);
  }
  clock.advance(1000);
  assert.deepEqual(sent.at(-1), [1000, 100], "the last value is sent");
  for (let i = 1; i < sent.length; i++) assert.ok(sent[i][0] - sent[i - 1][0] >= 100, `frames ${i - 1} and ${i} too close`);
  assert.ok(sent.length >= 10 && sent.length <= 11, `${sent.length} frames for one second of dragging`);

  // After a pause a new value goes at once.
  sent.length = 0;
  clock.advance(500);
  push(7);
  assert.deepEqual(sent, [[2490, 7]]);
  // Within the interval only the newest of several waits.
  push(8); push(9);
  clock.advance(100);
  assert.deepEqual(sent, [[2490, 7], [2590, 9]]);
});

test("devices without a name are named by kind and signal", () => {
  const hr = "0000180d-0000-1000-8000-00805f9b34fb", battery = "0000180f-0000-1000-8000-00805f9b34fb";
  const cases = [
    [{ name: "ihoment_H617C_1C7A", rssi: -58 }, "ihoment_H617C_1C7A"],
    [{ name: "", uuids: [battery, hr], rssi: -71 }, "Heart-rate sensor · fair signal"],
    [{ name: "", uuids: [battery], rssi: -50 }, "Battery-powered device · strong signal"],
    [{ name: "", uuids: ["0000feaa-0000-1000-8000-00805f9b34fb"], rssi: -90 }, "Beacon · weak signal"],
    [{ name: "", uuids: ["12345678-0000-1000-8000-00805f9b34fb"], rssi: -60 }, "Unnamed device · strong signal"],
    [{}, "Unnamed device · signal unknown"],
  ];
  for (const [device, name] of cases) assert.equal(L.displayName(device), name);
});

test("lights are told by their advertised name", () => {
  for (const name of ["ihoment_H617C_1C7A", "Govee_H617A_0A1B", "GBK_H6199", "gvh_h617c_ffff"]) assert.ok(L.isLight(name), name);
  for (const name of ["", undefined, "HRM 7B2F", "Govee", "ihoment_H617C_1C7A extra", "Bob_H617C_1C7A"])
    assert.ok(!L.isLight(name), String(name));
});

test("the list ages: grey after 10 s unheard, gone after 60 s unless linked", () => {
  const devices = new Map([
    ["light", { name: "ihoment_H617C_1C7A", rssi: -58, heard: 0 }],
    ["sensor", { name: "HRM 7B2F", rssi: -40, heard: 0 }],
    ["linked", { name: "Govee_H617A_0A1B", rssi: -90, heard: 0 }],
  ]);
  const at = (now, onlyLights = false) => {
    const { shown, gone } = L.listing(devices, now, new Set(["linked"]), onlyLights);
    return { shown: shown.map((d) => `${d.id}${d.stale ? " stale" : ""}`), gone };
  };
  // Lights first, then by signal.
  assert.deepEqual(at(9_999), { shown: ["light", "linked", "sensor"], gone: [] });
  assert.deepEqual(at(9_999, true), { shown: ["light", "linked"], gone: [] });
  assert.deepEqual(at(10_000), { shown: ["light stale", "linked stale", "sensor stale"], gone: [] });
  assert.deepEqual(at(59_999).gone, []);
  assert.deepEqual(at(60_000), { shown: ["linked stale"], gone: ["light", "sensor"] });
  // Heard again, fresh again.
  devices.get("light").heard = 55_000;
  assert.deepEqual(at(60_000).shown, ["light", "linked stale"]);
});

test("a linked device stays listed when only lights are shown", () => {
  const devices = new Map([["sensor", { name: "HRM 7B2F", heard: 0 }]]);
  assert.deepEqual(L.listing(devices, 0, new Set(["sensor"]), true).shown.map((d) => d.id), ["sensor"]);
  assert.deepEqual(L.listing(devices, 0, new Set(), true).shown, []);
});
