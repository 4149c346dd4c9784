// The Node client against vantrel-trace: requests checked on the trace they produce; errors from
// real refusals, limits, a killed process and timeouts.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { openSync, readFileSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import {
  Vantrel, PermissionRefused, LimitExceeded, RequestRefused, ProcessDied, ReplyTimeout,
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
  await assert.rejects(v.mouseDown(1, 1, { button: 'side' }), (e) =>
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
