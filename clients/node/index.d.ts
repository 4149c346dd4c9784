// Types of the vantrel client (index.js).

export declare const PERMISSION_MESSAGE: string;
export declare const CONNECTION_LOST_MESSAGE: string;
export declare const NOT_DELIVERED_MESSAGE: string;
export declare const BASE_TIMEOUT_MS: number;
export declare const STOP_GRACE_MS: number;

export interface Reply {
  id: number;
  ok: boolean;
  error?: string;
  detail?: string;
  [key: string]: unknown;
}

export declare class VantrelError extends Error {}
export declare class RequestRefused extends VantrelError {
  reply: Reply;
  detail?: string;
}
export declare class PermissionRefused extends RequestRefused {}
export declare class LimitExceeded extends RequestRefused {}
/** The display server or compositor went away during the action; detail names it. */
export declare class InputConnectionLost extends RequestRefused {}
/** Some of the input could not be delivered as asked; detail says what. */
export declare class InputNotDelivered extends RequestRefused {}
export declare class ProcessDied extends VantrelError {
  status: number | null;
  signal: string | null;
  /** True when the client was closed, rather than the process ending on its own. */
  closed: boolean;
}
export declare class ReplyTimeout extends VantrelError {}

export interface VantrelOptions {
  /** The executable; else VANTREL_BINARY, else "vantrel" on PATH. */
  binary?: string;
  /** Extra environment entries: DISPLAY, or the VANTREL_TRACE_* settings. */
  env?: Record<string, string>;
  /** Added to what each action takes before ReplyTimeout. */
  timeoutMs?: number;
  stderr?: 'ignore' | 'inherit' | number | import('node:stream').Stream;
}

export interface CallOptions {
  /** The whole wait for this reply, replacing the default. */
  timeoutMs?: number;
  /** Rejects with ReplyTimeout (and stops vantrel) when it fires. */
  signal?: AbortSignal;
}

export type ClickButton = 'left' | 'right' | 'middle';
export type Button = ClickButton | 'back' | 'forward';
export interface MoveOptions extends CallOptions { durationMs?: number }
export interface ClickOptions extends MoveOptions { modifiers?: string }
export interface ButtonOptions extends ClickOptions { button?: Button }
export interface ClickButtonOptions extends ClickOptions { button?: ClickButton }
export interface HoldWhat {
  /** A combination whose pieces are each held ("ctrl+shift"). */
  keys?: string;
  button?: Button;
  /** Where the button is pressed; else where the pointer is. */
  at?: [number, number];
}
export interface ScrollOptions extends CallOptions {
  direction?: 'up' | 'down' | 'left' | 'right';
  amount?: number;
  modifiers?: string;
}

export declare class Vantrel {
  constructor(options?: VantrelOptions);
  readonly pid: number | undefined;
  request(action: string, keys?: Record<string, unknown>, options?: CallOptions): Promise<Reply>;
  close(timeoutMs?: number): Promise<{ status: number | null; signal: string | null }>;
  /** Settles when the process has ended. */
  readonly exited: Promise<{ status: number | null; signal: string | null }>;
  /** The key and modifier names vantrel knows, asked once. */
  keyNames(options?: CallOptions): Promise<{ keys: string[]; modifiers: string[] }>;

  ping(options?: CallOptions): Promise<void>;
  probe(options?: CallOptions): Promise<boolean>;
  cursorPosition(options?: CallOptions): Promise<[number, number]>;
  screenSize(options?: CallOptions): Promise<[number, number]>;
  version(options?: CallOptions): Promise<{ version: string; platform: string }>;

  mouseMove(x: number, y: number, options?: MoveOptions): Promise<void>;
  moveBy(dx: number, dy: number, options?: MoveOptions): Promise<void>;
  click(x: number, y: number, options?: ClickButtonOptions): Promise<void>;
  doubleClick(x: number, y: number, options?: ClickOptions): Promise<void>;
  tripleClick(x: number, y: number, options?: ClickOptions): Promise<void>;
  leftMouseDown(x: number, y: number, options?: MoveOptions): Promise<void>;
  leftMouseUp(x: number, y: number, options?: CallOptions): Promise<void>;
  mouseDown(x: number, y: number, options?: ButtonOptions): Promise<void>;
  mouseUp(x: number, y: number, options?: { button?: Button; modifiers?: string } & CallOptions): Promise<void>;
  drag(start: [number, number], end: [number, number], options?: ButtonOptions): Promise<void>;
  /** A negative amount scrolls the other way. */
  scroll(x: number, y: number, options?: ScrollOptions): Promise<void>;

  typeText(text: string, options?: CallOptions): Promise<void>;
  key(combination: string, options?: CallOptions): Promise<void>;
  holdKey(combination: string, holdMs: number, options?: CallOptions): Promise<void>;
  keyDown(combination: string, options?: CallOptions): Promise<void>;
  keyUp(combination: string, options?: CallOptions): Promise<void>;
  /** Holds keys and/or a button while fn runs; releases them when it settles. */
  hold<T>(what: string | HoldWhat, fn: (client: Vantrel) => T | Promise<T>): Promise<T>;
  media(key: number, options?: CallOptions): Promise<void>;
  releaseAll(options?: CallOptions): Promise<void>;
}
