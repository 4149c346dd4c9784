// A client for vantrel: starts the helper process and speaks its JSON-lines protocol. Requests
// are queued and answered in order; each call's promise settles when vantrel has answered, that
// is when the action's events have been posted and its pauses taken.
import { spawn } from 'node:child_process';

export const PERMISSION_MESSAGE = 'Accessibility permission is not granted to the vantrel';
// Beyond what an action itself takes: start-up, a busy machine, round trips, and on X11 the wait
// that keeps clicks of separate actions apart (up to 500 ms).
export const BASE_TIMEOUT_MS = 5000;

export class VantrelError extends Error {}

// vantrel answered with an error reply (an unknown action or button, invalid json).
export class RequestRefused extends VantrelError {
  constructor(reply) {
    super(reply.error ?? 'refused');
    this.reply = reply;
    this.detail = reply.detail;
  }
}
// Input may not be posted (no Accessibility permission, no usable display: see detail).
export class PermissionRefused extends RequestRefused {}
// A value beyond what the action can carry out ("... out of range"); nothing was posted.
export class LimitExceeded extends RequestRefused {}
// The process ended; status is its exit code, signal the signal that ended it.
export class ProcessDied extends VantrelError {
  constructor(status, signal) {
    super(`vantrel ended (status ${status}, signal ${signal})`);
    this.status = status;
    this.signal = signal;
  }
}
// No reply in time, or the caller's AbortSignal fired. The process is stopped with SIGTERM,
// which releases what it holds; make a new Vantrel to go on.
export class ReplyTimeout extends VantrelError {}

function refusal(reply) {
  const error = String(reply.error ?? '');
  if (error === PERMISSION_MESSAGE) return new PermissionRefused(reply);
  if (error.endsWith('out of range')) return new LimitExceeded(reply);
  return new RequestRefused(reply);
}

export class Vantrel {
  // options: binary (else VANTREL_BINARY, else "vantrel" on PATH), env (extra entries, such as
  // DISPLAY or the VANTREL_TRACE_* settings), timeoutMs (added to what each action takes),
  // stderr ("ignore", "inherit" or a stream/fd, as child_process takes it).
  constructor(options = {}) {
    const binary = options.binary ?? process.env.VANTREL_BINARY ?? 'vantrel';
    this.timeoutMs = options.timeoutMs ?? BASE_TIMEOUT_MS;
    this.nextId = 1;
    this.waiting = [];
    this.buffer = '';
    this.ended = null;
    this.child = spawn(binary, [], {
      env: { ...process.env, ...(options.env ?? {}) },
      stdio: ['pipe', 'pipe', options.stderr ?? 'ignore'],
    });
    this.exited = new Promise((resolve) => {
      this.child.on('exit', (status, signal) => {
        this.ended = { status, signal };
        for (const w of this.waiting.splice(0)) w.fail(new ProcessDied(status, signal));
        resolve(this.ended);
      });
      this.child.on('error', (error) => {
        this.ended = { status: null, signal: null };
        for (const w of this.waiting.splice(0)) w.fail(new VantrelError(error.message));
        resolve(this.ended);
      });
    });
    this.child.stdin.on('error', () => {}); // a dead process is reported through 'exit'
    this.child.stdout.setEncoding('utf8');
    this.child.stdout.on('data', (chunk) => this.#read(chunk));
  }

  get pid() {
    return this.child.pid;
  }

  #read(chunk) {
    this.buffer += chunk;
    let end;
    while ((end = this.buffer.indexOf('\n')) >= 0) {
      const line = this.buffer.slice(0, end);
      this.buffer = this.buffer.slice(end + 1);
      const waiter = this.waiting.shift();
      if (!waiter) continue;
      const reply = JSON.parse(line);
      if (reply.id !== waiter.id)
        waiter.fail(new VantrelError(`reply ${line} does not answer request ${waiter.id}`));
      else if (!reply.ok) waiter.fail(refusal(reply));
      else waiter.done(reply);
    }
  }

  // Sends one request (keys as the protocol names them) and resolves with its success reply.
  // options: timeoutMs (the whole wait), signal (an AbortSignal).
  request(action, keys = {}, options = {}) {
    if (this.ended) return Promise.reject(new ProcessDied(this.ended.status, this.ended.signal));
    const id = this.nextId++;
    const timeoutMs = options.timeoutMs ?? this.timeoutMs;
    return new Promise((resolve, reject) => {
      let timer;
      const stop = (error) => {
        clearTimeout(timer);
        options.signal?.removeEventListener('abort', onAbort);
        this.child.kill('SIGTERM');
        reject(error);
      };
      const onAbort = () => stop(new ReplyTimeout(`request ${id} aborted`));
      const waiter = {
        id,
        done: (reply) => {
          clearTimeout(timer);
          options.signal?.removeEventListener('abort', onAbort);
          resolve(reply);
        },
        fail: (error) => {
          clearTimeout(timer);
          options.signal?.removeEventListener('abort', onAbort);
          reject(error);
        },
      };
      this.waiting.push(waiter);
      timer = setTimeout(() => stop(new ReplyTimeout(`no reply within ${timeoutMs} ms`)), timeoutMs);
      if (options.signal) {
        if (options.signal.aborted) return onAbort();
        options.signal.addEventListener('abort', onAbort, { once: true });
      }
      this.child.stdin.write(JSON.stringify({ id, action, ...keys }) + '\n');
    });
  }

  #timed(action, keys, seconds, options = {}) {
    const timeoutMs = options.timeoutMs ?? this.timeoutMs + Math.max(seconds, 0) * 1000;
    return this.request(action, keys, { ...options, timeoutMs });
  }

  // Ends vantrel's input and waits; stops it with SIGTERM if it does not end in time.
  async close(timeoutMs = 5000) {
    if (!this.ended) this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGTERM'), timeoutMs);
    const ended = await this.exited;
    clearTimeout(timer);
    return ended;
  }

  // Housekeeping
  async ping(options) { await this.#timed('ping', {}, 0, options); }
  async probe(options) { return (await this.#timed('probe', {}, 0, options)).trusted; }
  async cursorPosition(options) {
    const r = await this.#timed('cursor_position', {}, 0, options);
    return [r.x, r.y];
  }
  async screenSize(options) {
    const r = await this.#timed('screen_size', {}, 0, options);
    return [r.width, r.height];
  }
  async version(options) {
    const r = await this.#timed('version', {}, 0, options);
    return { version: r.version, platform: r.platform };
  }

  // The pointer. durationMs paces the eased move (default 350); modifiers ("shift", "ctrl+alt")
  // are held for the whole action.
  async mouseMove(x, y, { durationMs = 350, ...options } = {}) {
    await this.#timed('mouse_move', { x, y, durationMs }, durationMs / 1000, options);
  }
  async click(x, y, { button = 'left', durationMs = 350, modifiers, ...options } = {}) {
    const action = { left: 'left_click', right: 'right_click', middle: 'middle_click' }[button];
    if (!action) throw new RangeError(`unknown button: ${button}`);
    await this.#timed(action, { x, y, durationMs, ...(modifiers ? { modifiers } : {}) },
      durationMs / 1000 + 0.04, options);
  }
  async doubleClick(x, y, { durationMs = 350, modifiers, ...options } = {}) {
    await this.#timed('double_click', { x, y, durationMs, ...(modifiers ? { modifiers } : {}) },
      durationMs / 1000 + 0.08, options);
  }
  async tripleClick(x, y, { durationMs = 350, modifiers, ...options } = {}) {
    await this.#timed('triple_click', { x, y, durationMs, ...(modifiers ? { modifiers } : {}) },
      durationMs / 1000 + 0.12, options);
  }
  async leftMouseDown(x, y, { durationMs = 350, ...options } = {}) {
    await this.#timed('left_mouse_down', { x, y, durationMs }, durationMs / 1000, options);
  }
  async leftMouseUp(x, y, options) { await this.#timed('left_mouse_up', { x, y }, 0, options); }
  async mouseDown(x, y, { button = 'left', durationMs = 350, modifiers, ...options } = {}) {
    await this.#timed('mouse_down',
      { x, y, button, durationMs, ...(modifiers ? { modifiers } : {}) }, durationMs / 1000, options);
  }
  async mouseUp(x, y, { button = 'left', modifiers, ...options } = {}) {
    await this.#timed('mouse_up', { x, y, button, ...(modifiers ? { modifiers } : {}) }, 0, options);
  }
  async drag([startX, startY], [x, y], { durationMs = 350, modifiers, ...options } = {}) {
    await this.#timed('left_click_drag',
      { startX, startY, x, y, durationMs, ...(modifiers ? { modifiers } : {}) },
      0.2 + durationMs / 1000, options);
  }
  async scroll(x, y, { direction = 'down', amount = 1, modifiers, ...options } = {}) {
    await this.#timed('scroll', { x, y, direction, amount, ...(modifiers ? { modifiers } : {}) },
      0.2, options);
  }

  // The keyboard
  async typeText(text, options) { await this.#timed('type', { text }, text.length * 0.008, options); }
  async key(combination, options) { await this.#timed('key', { text: combination }, 0, options); }
  async holdKey(combination, holdMs, options) {
    await this.#timed('hold_key', { text: combination, holdMs }, holdMs / 1000, options);
  }
  async keyDown(combination, options) { await this.#timed('key_down', { text: combination }, 0, options); }
  async keyUp(combination, options) { await this.#timed('key_up', { text: combination }, 0, options); }
  async media(key, options) { await this.#timed('media', { key }, 0, options); }
  async releaseAll(options) { await this.#timed('release_all', {}, 0, options); }
}
