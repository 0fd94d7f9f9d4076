// SPDX-License-Identifier: MIT
// Runs every example of docs/guide.md in one private world (Xvfb, Photoshop in
// front of Illustrator) and compares its output with the ```output block after it.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, test } from 'node:test';
import { required, World } from '../node/world.mjs';

const source = required('VRK_SOURCE_DIR');
const libDir = path.dirname(required('VRK_LIBRARY'));
const guide = fs.readFileSync(path.join(source, 'docs/guide.md'), 'utf8');
const blocks = [...guide.matchAll(/^```(\w*)([^\n]*)\n([\s\S]*?)^```$/gm)].map((m) => ({
  kind: m[1], info: m[2].trim(), body: m[3], line: guide.slice(0, m.index).split('\n').length,
}));
const [setup] = blocks.splice(blocks.findIndex((b) => b.kind === 'js' && b.info === 'setup'), 1);
const world = await World.create();
after(() => world.close());
await world.windows('Adobe Illustrator', 'Adobe Photoshop');
fs.symlinkSync(path.join(import.meta.dirname, '../node/node_modules'), path.join(world.root, 'node_modules'));
const env = { ...process.env, LD_LIBRARY_PATH: libDir, LC_ALL: 'C.UTF-8', PATH: `${path.dirname(required('VRK_TOOL'))}:${process.env.PATH}` };
const run = (command, ...args) => spawnSync(command, args, { cwd: world.home, env, encoding: 'utf8', timeout: 60000 });

function runBlock(b) {
  if (b.kind === 'sh') return run('bash', '-c', b.body);
  if (b.kind === 'js') return run(process.execPath, '--input-type=module', '-e', b === setup ? b.body : `${setup.body}\n${b.body}`);
  const file = path.join(world.root, `line${b.line}`);
  fs.writeFileSync(`${file}.c`, `#include <stdio.h>\n#include <stdlib.h>\n#include <vrkfont/VRKFont.h>\nint main(void) {\n${b.body}  return 0;\n}\n`);
  const cc = run(process.env.VRK_C_COMPILER || 'cc', '-std=c11', '-Wall', '-Wextra', '-Werror',
    `-I${source}/include`, `${file}.c`, '-o', file, `-L${libDir}`, '-lVRKFont');
  return cc.status === 0 ? run(file) : cc;
}
const shown = (text) => text.replaceAll(world.home.replaceAll('/', '\\/'), '\\/home\\/me')
  .replaceAll(world.home, '/home/me').replaceAll(world.runtime, '/run/user/1000');

let pending = [];
for (const b of blocks) {
  if (b.kind === 'lua') test(`guide.md:${b.line} lua`, () => fs.writeFileSync(path.join(world.home, /file=(\S+)/.exec(b.info)[1]), b.body));
  else if (b.kind === 'output') {
    for (const done of pending.splice(0)) {
      test(`guide.md:${done.line} ${done.kind}`, () => {
        const result = runBlock(done);
        assert.equal(result.status, 0, `${result.error ?? ''}${result.stdout}${result.stderr}`);
        assert.equal(shown(result.stdout), b.body);
      });
    }
  } else if (['c', 'js', 'sh'].includes(b.kind)) pending.push(b);
  else assert.equal(b.kind, 'text', `guide.md:${b.line}: no way to run a ${b.kind} block`);
}
test('every example has its output, and the setup block loads all thirteen exports', () => {
  assert.deepEqual(pending.map((b) => `guide.md:${b.line}`), []);
  assert.equal(runBlock(setup).status, 0);
  assert.equal(setup.body.match(/lib\.func\(/g).length, 13);
});
