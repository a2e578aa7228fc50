// Orvane bridge: the page's side of the channel to the native app.
// Injected at document start into the top frame of every page the window
// shows. See orvane.d.ts for the API pages can rely on.
(() => {
  "use strict";
  if (window.__orvane) return;

  const info = Object.freeze(__ORVANE_INFO__);
  const listeners = new Map(); // "t" -> Set of listeners
  const pending = new Map(); // request number -> { resolve, reject, timer }
  let nextRequest = 1;

  // The native side listens in its own script world for this event; the
  // message travels as JSON text because only text crosses worlds intact.
  const POST_EVENT = "orvane-post";
  // ... and hands the page its messages with this one, as the JSON text of
  // a batch (an array of messages, in order).
  const RECEIVE_EVENT = "orvane-receive";

  // Types the app never answers with a "res": a request for one would wait forever.
  const UNANSWERED = new Set(["scan", "disconnect", "hello", "log", "update", "open"]);

  function settle(req) {
    const entry = pending.get(req);
    pending.delete(req);
    if (entry && entry.timer !== undefined) clearTimeout(entry.timer);
    return entry;
  }

  function post(message) {
    if (message === null || typeof message !== "object" || typeof message.t !== "string")
      throw new TypeError("__orvane.post needs an object with a string \"t\"");
    if (message.t === "hello") {
      // The native side drops everything pending on "hello" without a reply.
      for (const req of [...pending.keys()]) settle(req).reject(new Error("The bridge was reset."));
    }
    window.dispatchEvent(new CustomEvent(POST_EVENT, { detail: JSON.stringify(message) }));
  }

  function request(message, options) {
    if (message !== null && typeof message === "object" && UNANSWERED.has(message.t))
      return Promise.reject(new TypeError(`"${message.t}" gets no answer; send it with __orvane.post`));
    const timeout = options == null ? undefined : options.timeout;
    if (timeout !== undefined && !(typeof timeout === "number" && timeout >= 0 && timeout !== Infinity))
      return Promise.reject(new TypeError("timeout must be a number of milliseconds"));
    const req = nextRequest++;
    return new Promise((resolve, reject) => {
      const entry = { resolve, reject, timer: undefined };
      pending.set(req, entry);
      try {
        post({ ...message, req });
      } catch (error) {
        settle(req);
        reject(error);
        return;
      }
      if (timeout !== undefined && pending.get(req) === entry) {
        entry.timer = setTimeout(() => {
          // Forgotten: an answer that comes later is dropped.
          if (pending.get(req) !== entry) return;
          pending.delete(req);
          const error = new Error(`No answer to "${message.t}" within ${timeout} ms.`);
          error.name = "TimeoutError";
          reject(error);
        }, timeout);
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
      const { resolve, reject } = settle(message.req);
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

  window.addEventListener(RECEIVE_EVENT, (event) => {
    if (typeof event.detail !== "string") return;
    let batch;
    try {
      batch = JSON.parse(event.detail);
    } catch {
      return;
    }
    if (Array.isArray(batch)) for (let i = 0; i < batch.length; i++) receive(batch[i]);
  });

  Object.defineProperty(window, "__orvane", {
    value: Object.freeze({ info, post, request, on, receive }),
    writable: false,
    configurable: false,
    enumerable: false,
  });
})();
