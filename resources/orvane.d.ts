// Types for the bridge the Orvane app injects into its control page as
// `window.__orvane`. The object exists from document start in the top frame
// of pages shown in the app's window, and never in sub-frames.

export interface OrvaneMessage {
  /** The message type, e.g. "scan", "connect", "res", "adv". */
  t: string;
  [member: string]: unknown;
}

export interface OrvaneReply extends OrvaneMessage {
  t: "res";
  req: number;
  ok: boolean;
  error?: string;
}

/** The request types the app answers with a "res". */
export type OrvaneAnsweredType = "connect" | "services" | "write" | "notify";

/** The types the app never answers; `request` refuses them. */
export type OrvaneUnansweredType = "scan" | "disconnect" | "hello" | "log" | "update" | "open";

export interface OrvaneRequest extends OrvaneMessage {
  t: OrvaneAnsweredType;
}

export interface OrvaneRequestOptions {
  /** Milliseconds to wait for the answer before rejecting with a "TimeoutError". */
  timeout?: number;
}

export interface OrvaneInfo {
  /** "linux" in this build, "mac" in the macOS one. */
  platform: string;
  /** The running app's version, or "dev". */
  version: string;
}

export interface OrvaneBridge {
  readonly info: OrvaneInfo;
  /** Sends one message to the app. Throws TypeError if it has no string "t". */
  post(message: OrvaneMessage): void;
  /**
   * Sends a request with the next request number ("req") and resolves with
   * the matching "res" when "ok" is true, or rejects with an Error carrying
   * its "error" text. Requests still waiting when the page posts "hello" are
   * rejected, because the app drops them without a reply.
   *
   * Only these types are answered: "connect", "services", "write" and
   * "notify". For a type the app never answers ("scan", "disconnect",
   * "hello", "log", "update", "open") the promise rejects at once with a
   * TypeError and nothing is sent; use `post` for them.
   *
   * With `options.timeout` (milliseconds) the promise rejects with an Error
   * named "TimeoutError" when no answer has come by then, and the request is
   * forgotten: an answer that comes later is dropped. A timeout that is not a
   * non-negative finite number rejects at once with a TypeError.
   */
  request(message: OrvaneRequest, options?: OrvaneRequestOptions): Promise<OrvaneReply>;
  /** Calls `listener` for every incoming message of type `type`; returns a remover. */
  on(type: string, listener: (message: OrvaneMessage) => void): () => void;
  /** Called by the app with each incoming message, in delivery order. */
  receive(message: OrvaneMessage): void;
}

declare global {
  interface Window {
    readonly __orvane?: OrvaneBridge;
  }
}
