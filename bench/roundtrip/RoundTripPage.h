#pragma once
// The page the bridge's round trips are timed from. It talks to the app only
// through window.__orvane, as a control page does, times each round trip
// with performance.now(), and says "done" in a log message when a run is over
// (its figures are then in window.result).

namespace orvane::bench {

constexpr const char* kRoundTripPage = R"(<!doctype html><title>Round trip</title><script>
"use strict";
const o = window.__orvane;
const LIGHT = "__LIGHT__", SVC = "__SVC__", CHR = "__CHR__", FRAME = "__FRAME__";
let light = null;
window.result = null;
const finish = (result) => { window.result = result; o.post({t: "log", text: "done"}); };
const timed = async (n, once) => {
  const out = [];
  for (let i = 0; i < n; i++) {
    const t0 = performance.now();
    await once();
    out.push(performance.now() - t0);
  }
  return out;
};
const write = (response) => o.request({t: "write", id: light, svc: SVC, chr: CHR, data: FRAME, response});
const runs = {
  // A request answered at once, without Bluetooth: an id that is no device's.
  bridge: (n) => timed(n, () => o.request({t: "connect", id: "not-a-device"}).catch(() => {})),
  connect: async () => {
    const found = new Promise((resolve) => {
      const off = o.on("adv", (m) => { if (m.name === LIGHT) { off(); resolve(m.id); } });
    });
    o.post({t: "scan", on: true});
    light = await found;
    o.post({t: "scan", on: false});
    await o.request({t: "connect", id: light});
    await o.request({t: "services", id: light});
    return [];
  },
  write: (n) => timed(n, () => write(true)),
  // Writes without response, each sent when the last one's answer is in; a
  // write with response after them answers once the light has had them all.
  commands: async (n) => {
    const t0 = performance.now();
    for (let i = 0; i < n; i++) await write(false);
    await write(true);
    return [performance.now() - t0];
  },
  // The same, sent all at once, as a page sending a burst of frames does.
  burst: async (n) => {
    const t0 = performance.now();
    const all = [];
    for (let i = 0; i < n; i++) all.push(write(false));
    await Promise.all(all);
    await write(true);
    return [performance.now() - t0];
  },
};
window.run = (what, n) => runs[what](n).then(finish, (e) => finish(String(e)));
</script>)";

}  // namespace orvane::bench
