// A client for vantrel: starts the helper process and speaks its JSON-lines protocol. Calls are
// queued and sent one at a time; each call's promise settles when vantrel has answered, that is
// when the action's events have been posted and its pauses taken. A call's timeout starts when
// its request is written, not while it waits behind earlier calls.
//
// Arguments are checked before anything is sent: coordinates and durations must be finite
// numbers (TypeError, RangeError), text must be well-formed UTF-16 (RangeError naming the
// position of a lone surrogate), and the pieces of a key combination must be names vantrel
// knows (keyNames) or, for the last piece, a single character (RangeError with close names).
//
// The child and its pipes do not keep the event loop alive while no call is pending, so a
// program that forgets close() still exits; vantrel then ends, releasing what it holds. When the
// program's process exits, every client still open stops its vantrel with SIGTERM, which
// releases what it holds. The client installs no signal handlers: a program that dies of a
// signal closes vantrel's pipes, and vantrel releases everything itself.
import { spawn } from 'node:child_process';

export const PERMISSION_MESSAGE = 'Accessibility permission is not granted to the vantrel';
export const CONNECTION_LOST_MESSAGE = 'input connection lost';
export const NOT_DELIVERED_MESSAGE = 'input not delivered';
// Beyond what an action itself takes: start-up, a busy machine, round trips, and on X11 the wait
// that keeps clicks of separate actions apart (up to 500 ms).
export const BASE_TIMEOUT_MS = 5000;
// How long a vantrel being stopped has after SIGTERM before SIGKILL.
export const STOP_GRACE_MS = 2000;
// The longest delay setTimeout holds; longer waits are armed in steps of it.
const LONGEST_TIMER_MS = 2 ** 31 - 1;

const OPPOSITE = { up: 'down', down: 'up', left: 'right', right: 'left' };
const BUTTONS = ['left', 'right', 'middle', 'back', 'forward'];

export class VantrelError extends Error {}

// vantrel answered with an error reply (an unknown action or button, invalid json). The message
// carries the detail, when there is one, in parentheses.
export class RequestRefused extends VantrelError {
  constructor(reply) {
    const message = reply.error ?? 'refused';
    super(reply.detail ? `${message} (${reply.detail})` : message);
    this.reply = reply;
    this.detail = reply.detail;
  }
}
// Input may not be posted (no Accessibility permission, no usable display: see detail).
export class PermissionRefused extends RequestRefused {}
// A value beyond what the action can carry out ("... out of range"); nothing was posted.
export class LimitExceeded extends RequestRefused {}
// The display server or compositor went away during the action, which stopped there (detail
// names the connection). The next request connects afresh.
export class InputConnectionLost extends RequestRefused {}
// Some of the input could not be delivered as asked (on X11: a character the layout lacks, with
// no spare keycode free); detail says what. The rest was posted.
export class InputNotDelivered extends RequestRefused {}
// The process ended (status is its exit code, signal the signal that ended it), or the client
// was closed (closed is true).
export class ProcessDied extends VantrelError {
  constructor(status, signal, closed = false) {
    super(closed ? 'the client was closed' : `vantrel ended (status ${status}, signal ${signal})`);
    this.status = status;
    this.signal = signal;
    this.closed = closed;
  }
}
// No reply in time, or the caller's AbortSignal fired. The process has been stopped (SIGTERM,
// which releases what it holds, then SIGKILL if it lingers); make a new Vantrel to go on.
export class ReplyTimeout extends VantrelError {}

function refusal(reply) {
  const error = String(reply.error ?? '');
  if (error === PERMISSION_MESSAGE) return new PermissionRefused(reply);
  if (error === CONNECTION_LOST_MESSAGE) return new InputConnectionLost(reply);
  if (error === NOT_DELIVERED_MESSAGE) return new InputNotDelivered(reply);
  if (error.endsWith('out of range')) return new LimitExceeded(reply);
  return new RequestRefused(reply);
}

function number(name, value) {
  if (typeof value !== 'number') throw new TypeError(`${name} must be a number, not ${typeof value}`);
  if (!Number.isFinite(value)) throw new RangeError(`${name} must be finite, not ${value}`);
  return value;
}

function point(x, y) {
  return { x: number('x', x), y: number('y', y) };
}

const loneSurrogate = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;

function text(name, value) {
  if (typeof value !== 'string') throw new TypeError(`${name} must be a string, not ${typeof value}`);
  const lone = loneSurrogate.exec(value);
  if (lone) {
    const unit = lone[0].charCodeAt(0).toString(16).toUpperCase();
    throw new RangeError(`${name} has a lone surrogate U+${unit} at position ${lone.index}; ` +
      'it cannot be sent as UTF-8');
  }
  return value;
}

const segmenter = new Intl.Segmenter();
const singleCharacter = (piece) => piece !== '' && [...segmenter.segment(piece)].length === 1;

// The pieces of a combination as vantrel splits it: at each "+", where "+" alone, or after
// another "+", is the key itself.
function pieces(combination) {
  if (combination === '+') return ['+'];
  if (combination.endsWith('++')) {
    const head = combination.slice(0, -2);
    return head ? [...head.split('+'), '+'] : ['+'];
  }
  return combination.split('+');
}

function distance(a, b) {
  const row = Array.from({ length: b.length + 1 }, (_, i) => i);
  for (let i = 1; i <= a.length; i++) {
    let previous = row[0];
    row[0] = i;
    for (let j = 1; j <= b.length; j++) {
      const kept = row[j];
      row[j] = Math.min(row[j] + 1, row[j - 1] + 1, previous + (a[i - 1] === b[j - 1] ? 0 : 1));
      previous = kept;
    }
  }
  return row[b.length];
}

function suggest(name, names) {
  const squeeze = (s) => s.toLowerCase().replace(/[_\- ]/g, '');
  const key = squeeze(name);
  const close = names
    .map((n) => [distance(key, squeeze(n)), n])
    .filter(([d, n]) => d <= Math.max(1, Math.floor(Math.max(key.length, n.length) / 4)))
    .sort((a, b) => a[0] - b[0])
    .slice(0, 3)
    .map(([, n]) => `'${n}'`);
  return close.length ? `; did you mean ${close.join(', ')}?` : '';
}

// Windows has no signals: Node's kill() terminates the process there, and a terminated
// vantrel releases nothing. Ending its input instead makes it let go of its keys and end.
const WINDOWS = process.platform === 'win32';

// Every client still open when the program's process exits stops its vantrel (on Windows the
// exit closes its input, which ends it).
const open = new Set();
process.on('exit', () => {
  if (WINDOWS) return;
  for (const client of open) client.child.kill('SIGTERM');
});

export class Vantrel {
  // options: binary (else VANTREL_BINARY, else "vantrel" on PATH), env (extra entries, such as
  // DISPLAY or the VANTREL_TRACE_* settings), timeoutMs (added to what each action takes),
  // stderr ("ignore", "inherit" or a stream/fd, as child_process takes it).
  constructor(options = {}) {
    const binary = options.binary ?? process.env.VANTREL_BINARY ?? 'vantrel';
    this.timeoutMs = number('timeoutMs', options.timeoutMs ?? BASE_TIMEOUT_MS);
    this.nextId = 1;
    this.queue = [];
    this.current = null;
    this.buffer = '';
    this.ended = null;
    this.closed = false;
    this.names = null;
    this.child = spawn(binary, [], {
      env: { ...process.env, ...(options.env ?? {}) },
      stdio: ['pipe', 'pipe', options.stderr ?? 'ignore'],
    });
    // Pending calls keep the event loop alive through their timers; nothing else does.
    this.child.unref();
    this.child.stdin.unref?.();
    this.child.stdout.unref?.();
    open.add(this);
    this.exited = new Promise((resolve) => {
      const ended = (status, signal, error) => {
        if (this.ended) return;
        this.ended = { status, signal };
        open.delete(this);
        this.#failAll(error ?? new ProcessDied(status, signal, this.closed));
        resolve(this.ended);
      };
      this.child.on('exit', (status, signal) => ended(status, signal));
      this.child.on('error', (error) => ended(null, null, new VantrelError(error.message)));
    });
    this.child.stdin.on('error', () => {}); // a dead process is reported through 'exit'
    this.child.stdout.setEncoding('utf8');
    this.child.stdout.on('data', (chunk) => this.#read(chunk));
    // Its output closed: it has ended, or is about to; one that runs on is stopped.
    this.child.stdout.on('end', () => {
      if (!this.ended) this.#stop();
    });
  }

  get pid() {
    return this.child.pid;
  }

  #failAll(error) {
    const waiting = this.current ? [this.current, ...this.queue] : [...this.queue];
    this.current = null;
    this.queue = [];
    for (const w of waiting) w.fail(error);
  }

  // SIGTERM (on Windows the end of its input), then SIGKILL after the grace period; resolves
  // once the process is gone.
  #stop() {
    if (this.ended) return this.exited;
    this.child.ref(); // its end must be seen, even with nothing else to keep the loop alive
    if (WINDOWS) this.child.stdin.end();
    else this.child.kill('SIGTERM');
    const timer = setTimeout(() => this.child.kill('SIGKILL'), STOP_GRACE_MS);
    return this.exited.then((ended) => {
      clearTimeout(timer);
      return ended;
    });
  }

  #read(chunk) {
    this.buffer += chunk;
    let end;
    while ((end = this.buffer.indexOf('\n')) >= 0) {
      const line = this.buffer.slice(0, end);
      this.buffer = this.buffer.slice(end + 1);
      const waiter = this.current;
      if (!waiter) continue;
      this.current = null;
      const reply = JSON.parse(line);
      if (reply.id !== waiter.id)
        waiter.fail(new VantrelError(`reply ${line} does not answer request ${waiter.id}`));
      else if (!reply.ok) waiter.fail(refusal(reply));
      else waiter.done(reply);
      this.#next();
    }
  }

  // Writes the next queued request and starts its timeout.
  #next() {
    if (this.current || this.queue.length === 0 || this.ended) return;
    const waiter = this.queue.shift();
    this.current = waiter;
    waiter.start();
    this.child.stdin.write(waiter.line);
  }

  // Sends one request (keys as the protocol names them) and resolves with its success reply.
  // options: timeoutMs (from the moment it is written), signal (an AbortSignal).
  request(action, keys = {}, options = {}) {
    if (this.ended || this.closed)
      return Promise.reject(new ProcessDied(this.ended?.status ?? null,
        this.ended?.signal ?? null, this.closed));
    let timeoutMs;
    let line;
    try {
      timeoutMs = number('timeoutMs', options.timeoutMs ?? this.timeoutMs);
      line = JSON.stringify({ id: this.nextId, action, ...keys }) + '\n';
      text('request', line);
    } catch (error) {
      return Promise.reject(error);
    }
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      let timer = null;
      let settled = false;
      const finish = () => {
        settled = true;
        clearTimeout(timer);
        options.signal?.removeEventListener('abort', onAbort);
      };
      const stop = (error) => {
        if (settled) return;
        finish();
        this.#stop().then(() => reject(error));
      };
      const onAbort = () => stop(new ReplyTimeout(`request ${id} aborted`));
      // A timer for the whole wait, armed in steps that setTimeout can hold.
      const arm = (left) => {
        const step = Math.min(left, LONGEST_TIMER_MS);
        timer = setTimeout(() => {
          if (left - step > 0) arm(left - step);
          else stop(new ReplyTimeout(`no reply within ${timeoutMs} ms`));
        }, step);
      };
      const waiter = {
        id,
        line,
        start: () => {
          clearTimeout(timer);
          arm(timeoutMs);
        },
        done: (reply) => {
          if (settled) return;
          finish();
          resolve(reply);
        },
        fail: (error) => {
          if (settled) return;
          finish();
          reject(error);
        },
      };
      if (options.signal) {
        if (options.signal.aborted) return onAbort();
        options.signal.addEventListener('abort', onAbort, { once: true });
      }
      // Until it is written, a queued call keeps the loop alive with a timer of its own.
      timer = setTimeout(() => {}, LONGEST_TIMER_MS);
      this.queue.push(waiter);
      this.#next();
    });
  }

  #timed(action, keys, seconds, options = {}) {
    const timeoutMs = options.timeoutMs ?? this.timeoutMs + Math.max(seconds, 0) * 1000;
    return this.request(action, keys, { ...options, timeoutMs });
  }

  // Ends vantrel's input and waits; stops it (SIGTERM, then SIGKILL) if it does not end in
  // time. vantrel lets go of its keys at the end of input, but leaves a mouse button held.
  async close(timeoutMs = 5000) {
    this.closed = true;
    open.delete(this);
    if (!this.ended) this.child.stdin.end();
    const timer = setTimeout(() => this.#stop(), timeoutMs);
    const ended = await this.exited;
    clearTimeout(timer);
    return ended;
  }

  // Names

  // { keys, modifiers }: the names vantrel knows, asked once.
  async keyNames(options) {
    if (!this.names) {
      const r = await this.#timed('key_names', {}, 0, options);
      this.names = { keys: r.keys, modifiers: r.modifiers };
    }
    return this.names;
  }

  async #checkModifiers(modifiers) {
    if (modifiers === undefined || modifiers === null) return {};
    text('modifiers', modifiers);
    const known = (await this.keyNames()).modifiers;
    for (const piece of modifiers.toLowerCase().split('+'))
      if (!known.includes(piece))
        throw new RangeError(`unknown modifier '${piece}'${suggest(piece, known)}`);
    return { modifiers };
  }

  // A combination's pieces: modifiers, then a key name or a single character; with
  // everyPieceAKey (keyDown, keyUp), each piece a modifier or a key name.
  async #checkCombination(combination, everyPieceAKey = false) {
    text('combination', combination);
    const { keys, modifiers } = await this.keyNames();
    const all = pieces(combination.toLowerCase());
    if (all.includes('')) throw new RangeError(`combination '${combination}' has an empty piece`);
    all.forEach((piece, i) => {
      if (everyPieceAKey) {
        if (modifiers.includes(piece) || keys.includes(piece)) return;
        throw new RangeError(`unknown key '${piece}' in '${combination}'` +
          suggest(piece, [...modifiers, ...keys]));
      }
      if (i < all.length - 1) {
        if (modifiers.includes(piece)) return;
        throw new RangeError(`unknown modifier '${piece}' in '${combination}'` +
          suggest(piece, modifiers));
      }
      if (keys.includes(piece) || singleCharacter(piece)) return;
      throw new RangeError(`unknown key '${piece}' in '${combination}': neither a key name ` +
        `nor a single character${suggest(piece, keys)}`);
    });
    return combination;
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
    const at = point(x, y);
    number('durationMs', durationMs);
    await this.#timed('mouse_move', { ...at, durationMs }, durationMs / 1000, options);
  }
  // Moves by (dx, dy) from where the pointer is now.
  async moveBy(dx, dy, { durationMs = 350, ...options } = {}) {
    number('dx', dx);
    number('dy', dy);
    const [x, y] = await this.cursorPosition(options);
    await this.mouseMove(x + dx, y + dy, { durationMs, ...options });
  }
  async click(x, y, { button = 'left', durationMs = 350, modifiers, ...options } = {}) {
    const action = { left: 'left_click', right: 'right_click', middle: 'middle_click' }[button];
    if (!action) throw new RangeError(`unknown button: '${button}' (left, right or middle)`);
    await this.#pointer(action, x, y, durationMs, 0.04, modifiers, options);
  }
  async doubleClick(x, y, { durationMs = 350, modifiers, ...options } = {}) {
    await this.#pointer('double_click', x, y, durationMs, 0.08, modifiers, options);
  }
  async tripleClick(x, y, { durationMs = 350, modifiers, ...options } = {}) {
    await this.#pointer('triple_click', x, y, durationMs, 0.12, modifiers, options);
  }
  async leftMouseDown(x, y, { durationMs = 350, ...options } = {}) {
    await this.#pointer('left_mouse_down', x, y, durationMs, 0, undefined, options);
  }
  async leftMouseUp(x, y, options) { await this.#timed('left_mouse_up', point(x, y), 0, options); }
  // A lone press of button ("left", "right", "middle", "back", "forward"), held until mouseUp,
  // releaseAll or a stop.
  async mouseDown(x, y, { button = 'left', durationMs = 350, modifiers, ...options } = {}) {
    await this.#pointer('mouse_down', x, y, durationMs, 0, modifiers, options,
      { button: checkButton(button) });
  }
  async mouseUp(x, y, { button = 'left', modifiers, ...options } = {}) {
    const at = point(x, y);
    checkButton(button);
    await this.#timed('mouse_up', { ...at, button, ...(await this.#checkModifiers(modifiers)) },
      0, options);
  }
  // Drags from start to end with button held. The left button: a 200 ms move to start, a
  // press, 40 steps paced over durationMs, the release at end. Another button: a press at start
  // (mouseDown), an eased move over durationMs, the release at end, also when the move fails.
  async drag([startX, startY], [x, y], { button = 'left', durationMs = 350, modifiers,
    ...options } = {}) {
    const from = point(startX, startY);
    const to = point(x, y);
    number('durationMs', durationMs);
    checkButton(button);
    const held = await this.#checkModifiers(modifiers);
    if (button === 'left') {
      await this.#timed('left_click_drag',
        { startX: from.x, startY: from.y, ...to, durationMs, ...held },
        0.2 + durationMs / 1000, options);
      return;
    }
    await this.mouseDown(from.x, from.y, { button, durationMs: 200, modifiers, ...options });
    try {
      await this.mouseMove(to.x, to.y, { durationMs, ...options });
    } finally {
      await this.mouseUp(to.x, to.y, { button, modifiers, ...options });
    }
  }
  // amount lines of the wheel; a negative amount scrolls the other way.
  async scroll(x, y, { direction = 'down', amount = 1, modifiers, ...options } = {}) {
    const at = point(x, y);
    if (!(direction in OPPOSITE))
      throw new RangeError(`unknown direction: '${direction}' (up, down, left or right)`);
    number('amount', amount);
    if (amount < 0) [direction, amount] = [OPPOSITE[direction], -amount];
    await this.#timed('scroll',
      { ...at, direction, amount, ...(await this.#checkModifiers(modifiers)) }, 0.2, options);
  }

  async #pointer(action, x, y, durationMs, after, modifiers, options, extra = {}) {
    const at = point(x, y);
    number('durationMs', durationMs);
    await this.#timed(action,
      { ...at, durationMs, ...extra, ...(await this.#checkModifiers(modifiers)) },
      durationMs / 1000 + after, options);
  }

  // The keyboard
  async typeText(value, options) {
    text('text', value);
    await this.#timed('type', { text: value }, value.length * 0.008, options);
  }
  async key(combination, options) {
    await this.#checkCombination(combination);
    await this.#timed('key', { text: combination }, 0, options);
  }
  async holdKey(combination, holdMs, options) {
    await this.#checkCombination(combination);
    number('holdMs', holdMs);
    await this.#timed('hold_key', { text: combination, holdMs }, holdMs / 1000, options);
  }
  async keyDown(combination, options) {
    await this.#checkCombination(combination, true);
    await this.#timed('key_down', { text: combination }, 0, options);
  }
  async keyUp(combination, options) {
    await this.#checkCombination(combination, true);
    await this.#timed('key_up', { text: combination }, 0, options);
  }
  // Holds keys (a combination, each piece pressed) and/or a mouse button while fn runs, and
  // releases them when it settles, also when it throws; resolves with fn's result.
  //   await v.hold('shift', () => v.click(10, 20));
  //   await v.hold({ keys: 'ctrl', button: 'left', at: [5, 5] }, async () => { ... });
  async hold(what, fn) {
    const { keys, button, at } = typeof what === 'string' ? { keys: what } : what ?? {};
    if (keys !== undefined) await this.#checkCombination(keys, true);
    if (button !== undefined) checkButton(button);
    if (at !== undefined) point(...at);
    let pressedKeys = false;
    let pressedButton = false;
    try {
      if (keys !== undefined) {
        await this.keyDown(keys);
        pressedKeys = true;
      }
      if (button !== undefined) {
        const [x, y] = at ?? await this.cursorPosition();
        await this.mouseDown(x, y, { button, durationMs: 1 });
        pressedButton = true;
      }
      return await fn(this);
    } finally {
      if (pressedButton) {
        const [x, y] = await this.cursorPosition();
        await this.mouseUp(x, y, { button });
      }
      if (pressedKeys) await this.keyUp(keys);
    }
  }
  async media(key, options) {
    number('key', key);
    await this.#timed('media', { key }, 0, options);
  }
  async releaseAll(options) { await this.#timed('release_all', {}, 0, options); }
}

function checkButton(button) {
  if (!BUTTONS.includes(button))
    throw new RangeError(`unknown button: '${button}' (${BUTTONS.join(', ')})`);
  return button;
}
