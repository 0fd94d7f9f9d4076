// SPDX-License-Identifier: MIT
// The client test under valgrind: fails on a leak of libVRKFont's memory or a
// wrong free (a constant freed, a copy freed twice). Node's own leaks at exit
// are not the library's and are left out.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { required } from './world.mjs';

const xml = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'vrkfont-leaks-')), 'valgrind.xml');
// Preloaded so that it stays mapped at exit: once koffi unloads it, valgrind
// can neither name its frames nor see its static data as roots.
const run = spawnSync('valgrind', ['--leak-check=full', '--show-leak-kinds=definite,possible', '--num-callers=40',
  '--xml=yes', `--xml-file=${xml}`, process.execPath, new URL('client.test.mjs', import.meta.url).pathname],
{ env: { ...process.env, LD_PRELOAD: required('VRK_LIBRARY') }, encoding: 'utf8', maxBuffer: 64 << 20 });
const report = fs.existsSync(xml) ? fs.readFileSync(xml, 'utf8') : '';
fs.rmSync(path.dirname(xml), { recursive: true, force: true });
if (!report.includes('</valgrindoutput>')) throw new Error(`valgrind wrote no report: ${run.stderr} ${run.error ?? ''}`);
const bad = [...report.matchAll(/<error>([\s\S]*?)<\/error>/g)].map((m) => m[1])
  .filter((e) => /<kind>(InvalidFree|MismatchedFree)<\/kind>/.test(e) || e.includes('libVRKFont'));
for (const error of bad) console.error(error.replace(/<[^>]+>/g, ' ').replace(/\s+\n/g, '\n'));
if (run.status !== 0) console.error(`${run.stdout}\nthe client test failed under valgrind (status ${run.status})`);
console.log(`# valgrind: ${bad.length} error(s) involving libVRKFont or a wrong free`);
process.exit(bad.length === 0 && run.status === 0 ? 0 : 1);
