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
   */
  request(message: OrvaneMessage): Promise<OrvaneReply>;
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
