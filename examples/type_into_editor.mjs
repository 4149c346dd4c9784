// Opens an editable GTK text window on a private Xvfb, clicks into it, types a paragraph,
// selects it all with ctrl+a and prints where the pointer is.
//   VANTREL_BINARY=build/vantrel node examples/type_into_editor.mjs
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { setTimeout as sleep } from 'node:timers/promises';
import { Vantrel } from '../clients/node/index.js';

const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x800x24'],
  { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
const [number] = await once(xvfb.stdio[3], 'data');
const display = ':' + number.toString().trim();
const editor = spawn('zenity', ['--text-info', '--editable', '--width=900', '--height=500'],
  { env: { ...process.env, DISPLAY: display }, stdio: 'ignore' });
await sleep(2000); // let the window appear
const v = new Vantrel({ env: { DISPLAY: display } });
await v.click(450, 200);
await v.typeText('Grüße aus Köln — Привет, мир — 你好，世界 — 안녕하세요 😀\n');
await v.key('ctrl+a');
console.log('pointer at', await v.cursorPosition());
await v.close();
editor.kill(); xvfb.kill();
