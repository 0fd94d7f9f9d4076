// SPDX-License-Identifier: MIT
// Runs the client test under valgrind and fails when memory from libVRKFont
// leaks or when a free goes wrong (a constant freed, a copy freed twice).
// Node's own leaks at exit are not the library's and are left out.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { required } from './world.mjs';

const library = required('VRK_LIBRARY');
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vrkfont-leaks-'));
const xml = path.join(dir, 'valgrind.xml');
const run = spawnSync(
  'valgrind',
  ['--leak-check=full', '--show-leak-kinds=definite,possible', '--num-callers=40', '--xml=yes',
    `--xml-file=${xml}`, process.execPath, fileURLToPath(new URL('client.test.mjs', import.meta.url))],
  {
    // Preloaded so that it stays mapped at exit: once koffi unloads it,
    // valgrind can neither name its frames nor see its static data as roots.
    env: { ...process.env, LD_PRELOAD: library },
    encoding: 'utf8',
    maxBuffer: 64 << 20,
  },
);
const report = fs.existsSync(xml) ? fs.readFileSync(xml, 'utf8') : '';
fs.rmSync(dir, { recursive: true, force: true });
process.stdout.write(run.stdout.split('\n').filter((l) => /^# |^not ok/.test(l)).join('\n') + '\n');
if (!report.includes('</valgrindoutput>')) {
  console.error(run.stderr, run.error ?? '');
  console.error('valgrind wrote no report');
  process.exit(1);
}

const ours = (error) => error.includes('libVRKFont');
const bad = [...report.matchAll(/<error>([\s\S]*?)<\/error>/g)]
  .map((m) => m[1])
  .filter((error) => {
    const kind = /<kind>(\w+)<\/kind>/.exec(error)[1];
    return /^(InvalidFree|MismatchedFree)$/.test(kind) || ours(error);
  });
for (const error of bad) {
  console.error(error.replace(/<[^>]+>/g, ' ').replace(/\s+\n/g, '\n'));
}
console.log(`# valgrind: ${bad.length} error(s) involving libVRKFont or a wrong free`);
if (run.status !== 0) console.error(`the client test failed under valgrind (status ${run.status})`);
process.exit(bad.length === 0 && run.status === 0 ? 0 : 1);
