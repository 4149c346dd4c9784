// The Node client against vantrel-trace: requests checked on the trace they produce; errors from
// real refusals, limits, a killed process and timeouts.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { openSync, readFileSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { spawn } from 'node:child_process';
import { writeFileSync, chmodSync } from 'node:fs';
import {
  Vantrel, VantrelError, PermissionRefused, LimitExceeded, RequestRefused, InputConnectionLost,
  ProcessDied, ReplyTimeout, PERMISSION_MESSAGE,
} from '../index.js';

const binary = process.env.VANTREL_TRACE_BINARY ?? 'vantrel-trace';

// A client whose trace goes to a file; lines() reads what came since the last call.
function traced(env = {}) {
  const file = join(mkdtempSync(join(tmpdir(), 'vantrel-node-')), 'trace');
  const v = new Vantrel({ binary, env, stderr: openSync(file, 'w') });
  let seen = 0;
  v.lines = () => {
    const all = readFileSync(file, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
    const fresh = all.slice(seen);
    seen = all.length;
    return fresh;
  };
  v.posts = () => v.lines().filter((l) => 'post' in l);
  return v;
}

const mouse = (type, x, y, button = 0, more = {}) => ({ post: 'mouse', type, x, y, button, ...more });

test('every method sends the request the protocol defines', async () => {
  const v = traced({ VANTREL_TRACE_CURSOR: '10,0' });
  await v.click(10, 0);
  assert.deepEqual(v.posts(), [mouse(5, 10, 0), mouse(1, 10, 0, 0, { clickState: 1 }),
    mouse(2, 10, 0, 0, { clickState: 1 })]);
  await v.click(10, 0, { button: 'right', modifiers: 'shift' });
  assert.deepEqual(v.posts().map((e) => e.type), [10, 5, 3, 4, 11]);
  await v.doubleClick(10, 0);
  await v.tripleClick(10, 0);
  assert.deepEqual(v.posts().map((e) => e.clickState).filter(Boolean), [1, 1, 2, 2, 1, 1, 2, 2, 3, 3]);
  await v.drag([10, 0], [50, 0], { durationMs: -1 });
  const dragged = v.posts();
  assert.equal(dragged.length, 43);
  assert.deepEqual(dragged.at(-1), mouse(2, 50, 0));
  await v.scroll(50, 0, { direction: 'up', amount: 4 });
  assert.equal(v.posts().at(-1).wheel1, 4);
  await v.mouseDown(50, 0, { button: 'middle' });
  await v.mouseMove(51, 0, { durationMs: -1 });
  await v.mouseUp(51, 0, { button: 'middle' });
  assert.deepEqual(v.posts(), [mouse(5, 50, 0), mouse(25, 50, 0, 2), mouse(27, 51, 0, 2),
    mouse(26, 51, 0, 2)]);
  await v.leftMouseDown(51, 0);
  await v.leftMouseUp(52, 0);
  assert.deepEqual(v.posts().map((e) => e.type), [5, 1, 2]);
  await v.typeText('hé');
  assert.deepEqual(v.posts().map((e) => e.text), [[104], [104], [233], [233]]);
  await v.key('ctrl+c');
  await v.holdKey('a', 20);
  await v.keyDown('alt');
  await v.keyUp('alt');
  await v.media(16);
  assert.deepEqual(v.posts().map((e) => e.keyCode ?? e.data1),
    [8, 8, 0, 0, 58, 58, 0x100A00, 0x100B00]);
  await v.keyDown('shift');
  await v.releaseAll();
  assert.deepEqual(v.posts(), [{ post: 'key', type: 10, keyCode: 56, flags: 0x20000 },
    { post: 'key', type: 11, keyCode: 56, flags: 0 }]);
  assert.deepEqual(await v.cursorPosition(), [52, 0]);
  assert.deepEqual(await v.screenSize(), [1920, 1080]);
  assert.equal((await v.version()).platform, 'trace');
  assert.equal(await v.probe(), true);
  await v.ping();
  // Many requests queued at once are answered in order.
  await Promise.all(Array.from({ length: 200 }, () => v.ping()));
  const ids = v.lines().filter((l) => 'reply' in l).map((l) => l.reply.id);
  assert.deepEqual(ids.slice(-200), Array.from({ length: 200 }, (_, i) => ids.at(-200) + i));
  assert.deepEqual(await v.close(), { status: 0, signal: null });
});

test('errors are exceptions of their own kinds', async () => {
  const refused = new Vantrel({ binary, env: { VANTREL_TRACE_TRUSTED: '0' } });
  assert.equal(await refused.probe(), false);
  await assert.rejects(refused.click(1, 1), PermissionRefused);
  await refused.close();

  const v = new Vantrel({ binary });
  await assert.rejects(v.holdKey('a', 5_000_000), LimitExceeded);
  await assert.rejects(v.request('mouse_down', { button: 'side' }), (e) =>
    e instanceof RequestRefused && e.message === 'unknown button: side');
  process.kill(v.pid, 'SIGKILL');
  await assert.rejects(v.ping(), ProcessDied);

  const slow = new Vantrel({ binary, env: { VANTREL_TRACE_REALTIME: '1' } });
  await assert.rejects(slow.holdKey('a', 60_000, { timeoutMs: 300 }), ReplyTimeout);
  assert.deepEqual(await slow.close(), { status: null, signal: 'SIGTERM' });

  const aborted = new Vantrel({ binary, env: { VANTREL_TRACE_REALTIME: '1' } });
  await assert.rejects(aborted.holdKey('a', 60_000, { signal: AbortSignal.timeout(200) }),
    ReplyTimeout);
  await aborted.close();
});

test('arguments are checked before anything is sent, and the client goes on', async () => {
  const v = traced();
  const bad = [
    [TypeError, () => v.click('100', '120')],
    [RangeError, () => v.click(NaN, 5)],
    [TypeError, () => v.click(undefined, 5)],
    [TypeError, () => v.click(null, 5)],
    [RangeError, () => v.mouseMove(1, Infinity)],
    [RangeError, () => v.holdKey('a', NaN)],
    [RangeError, () => v.key('Page_Down'), /'pagedown'/],
    [RangeError, () => v.key('insert')],
    [RangeError, () => v.key('ctrl+Page_Down')],
    [RangeError, () => v.key('ctrll+a'), /'ctrl'/],
    [RangeError, () => v.keyDown('shift+é')],
    [RangeError, () => v.click(1, 2, { modifiers: 'shfit' })],
    [RangeError, () => v.typeText('ab\ud83d'), /position 2/],
    [RangeError, () => v.drag([0, 0], [1, 1], { button: 'side' })],
    [RangeError, () => v.scroll(0, 0, { direction: 'sideways' })],
  ];
  for (const [kind, call, message] of bad)
    await assert.rejects(call(), (e) => e instanceof kind && (!message || message.test(e.message)),
      call.toString());
  await v.ping();
  const replies = v.lines().filter((l) => 'reply' in l).map((l) => l.reply.id);
  assert.deepEqual(replies.length, 2); // key_names, then the ping: nothing else was sent
  assert.deepEqual(v.posts(), []);
  for (const combination of ['é', '👍🏽', 'ctrl++', 'Cmd+Shift+T', 'PageDown', '🇩🇪']) {
    await v.key(combination);
    assert.ok(v.posts().length > 0, combination);
  }
  await assert.rejects(v.holdKey('x', 1e10), LimitExceeded);
  assert.ok((await v.keyNames()).keys.includes('pagedown'));
  await v.close();
});

test('conveniences: drag with any button, signed scroll, moveBy, hold', async () => {
  const v = traced({ VANTREL_TRACE_CURSOR: '10,10' });
  await v.drag([10, 10], [20, 10], { button: 'right', durationMs: 10 });
  const types = v.posts().map((e) => e.type);
  assert.deepEqual(types.slice(0, 2), [5, 3]);
  assert.deepEqual([...new Set(types.slice(2, -1))], [7]);
  assert.equal(types.at(-1), 4);
  await v.scroll(20, 10, { amount: -3 });
  assert.equal(v.posts().at(-1).wheel1, 3);
  await v.moveBy(5, -4, { durationMs: 1 });
  assert.deepEqual(v.posts().at(-1), mouse(5, 25, 6));
  await assert.rejects(v.hold({ keys: 'shift', button: 'back' }, async () => {
    await v.click(30, 30, { durationMs: 1 });
    throw new Error('in the body');
  }), /in the body/);
  assert.deepEqual(v.posts().slice(-2).map((e) => [e.type, e.keyCode ?? e.button]),
    [[26, 3], [11, 56]]);
  assert.equal(await v.hold('alt', async () => 7), 7);
  await v.close();
});

test('errors say why, and a closed client says it was closed', async () => {
  assert.equal(new PermissionRefused({ error: PERMISSION_MESSAGE, detail: 'x11: DISPLAY is not set' })
    .message, 'Accessibility permission is not granted to the vantrel (x11: DISPLAY is not set)');
  const lost = new Vantrel({ binary, env: { VANTREL_TRACE_FAIL: 'connection' } });
  await assert.rejects(lost.key('a'), (e) => e instanceof InputConnectionLost &&
    e instanceof VantrelError && /VANTREL_TRACE_FAIL/.test(e.detail));
  await lost.ping();
  await lost.close();
  await assert.rejects(lost.ping(), (e) => e instanceof ProcessDied && e.message === 'the client was closed');
});

test('a timeout counts from the write, and leaves no vantrel running', async () => {
  const v = new Vantrel({ binary, env: { VANTREL_TRACE_REALTIME: '1' } });
  // A ping queued behind a 1.5 s hold is not timed out by its own 1 s while it waits.
  const hold = v.holdKey('a', 1500);
  await v.ping({ timeoutMs: 1000 });
  await hold;
  // Longer than setTimeout holds: clamped, not fired at once.
  const long = v.holdKey('a', 50, { timeoutMs: 3e9 });
  await long;
  await v.close();

  const script = join(mkdtempSync(join(tmpdir(), 'vantrel-node-')), 'stubborn.sh');
  writeFileSync(script, '#!/bin/sh\ntrap "" TERM\nexec sleep 1000\n');
  chmodSync(script, 0o755);
  const stubborn = new Vantrel({ binary: script });
  await assert.rejects(stubborn.ping({ timeoutMs: 200 }), ReplyTimeout);
  assert.deepEqual(await stubborn.exited, { status: null, signal: 'SIGKILL' });

  const mute = join(mkdtempSync(join(tmpdir(), 'vantrel-node-')), 'mute.sh');
  writeFileSync(mute, '#!/bin/sh\ntrap "" TERM\nexec 1>&-\nexec sleep 1000\n');
  chmodSync(mute, 0o755);
  const closedOutput = new Vantrel({ binary: mute, timeoutMs: 600_000 });
  await assert.rejects(closedOutput.ping(), ProcessDied);
  assert.notEqual(closedOutput.ended, null);
});

// A program that drives vantrel-trace, holds a key and a button, says "ready", then `rest`.
function holder(trace, rest) {
  const url = new URL('../index.js', import.meta.url).href;
  return `import { Vantrel } from '${url}';
import { openSync } from 'node:fs';
const v = new Vantrel({ binary: '${binary}', env: { VANTREL_TRACE_REALTIME: '1' },
  stderr: openSync('${trace}', 'w') });
await v.keyDown('shift');
await v.mouseDown(5, 5, { durationMs: 1 });
console.log('ready');
${rest}`;
}

async function releasedAfter(rest, end) {
  const trace = join(mkdtempSync(join(tmpdir(), 'vantrel-node-')), 'trace');
  const child = spawn(process.execPath, ['--input-type=module', '-e', holder(trace, rest)],
    { stdio: ['ignore', 'pipe', 'ignore'] });
  await new Promise((resolve) => child.stdout.once('data', resolve));
  end(child);
  await new Promise((resolve) => child.on('exit', resolve));
  const want = JSON.stringify([mouse(2, 5, 5, 0, { flags: 0x20000 }),
    { post: 'key', type: 11, keyCode: 56, flags: 0 }]);
  for (let i = 0; i < 300; i++) {
    const lines = readFileSync(trace, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l));
    if (JSON.stringify(lines.filter((l) => 'post' in l).slice(-2)) === want) return;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  assert.fail(`not released: ${readFileSync(trace, 'utf8')}`);
}

test('a program that forgets close() exits, and what it held is released', async () => {
  await releasedAfter('', () => {});
});

test('a program killed with SIGINT or SIGKILL while holding releases everything', async () => {
  await releasedAfter('setInterval(() => {}, 1000);', (child) => child.kill('SIGINT'));
  await releasedAfter('setInterval(() => {}, 1000);', (child) => child.kill('SIGKILL'));
});
