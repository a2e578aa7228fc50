// Orvane bridge: the page's side of the channel to the native app.
// Injected at document start into the top frame of every page the window
// shows. See orvane.d.ts for the API pages can rely on.
(() => {
  "use strict";
  if (window.__orvane) return;

  const info = Object.freeze(__ORVANE_INFO__);
  const listeners = new Map(); // "t" -> Set of listeners
  const pending = new Map(); // request number -> { resolve, reject }
  let nextRequest = 1;

  // The native side listens in its own script world for this event; the
  // message travels as JSON text because only text crosses worlds intact.
  const POST_EVENT = "orvane-post";

  function post(message) {
    if (message === null || typeof message !== "object" || typeof message.t !== "string")
      throw new TypeError("__orvane.post needs an object with a string \"t\"");
    if (message.t === "hello") {
      // The native side drops everything pending on "hello" without a reply.
      const dropped = [...pending.values()];
      pending.clear();
      for (const { reject } of dropped) reject(new Error("The bridge was reset."));
    }
    window.dispatchEvent(new CustomEvent(POST_EVENT, { detail: JSON.stringify(message) }));
  }

  function request(message) {
    const req = nextRequest++;
    return new Promise((resolve, reject) => {
      pending.set(req, { resolve, reject });
      try {
        post({ ...message, req });
      } catch (error) {
        pending.delete(req);
        reject(error);
      }
    });
  }

  function on(type, listener) {
    if (typeof listener !== "function") throw new TypeError("__orvane.on needs a function");
    let set = listeners.get(type);
    if (!set) listeners.set(type, (set = new Set()));
    set.add(listener);
    return () => set.delete(listener);
  }

  function receive(message) {
    if (message === null || typeof message !== "object") return;
    if (message.t === "res" && pending.has(message.req)) {
      const { resolve, reject } = pending.get(message.req);
      pending.delete(message.req);
      if (message.ok) resolve(message);
      else reject(new Error(typeof message.error === "string" ? message.error : "Request failed."));
    }
    const set = listeners.get(message.t);
    if (!set) return;
    for (const listener of [...set]) {
      try {
        listener(message);
      } catch (error) {
        // One broken listener must not keep the others from their messages.
        console.error(error);
      }
    }
  }

  Object.defineProperty(window, "__orvane", {
    value: Object.freeze({ info, post, request, on, receive }),
    writable: false,
    configurable: false,
    enumerable: false,
  });
})();
