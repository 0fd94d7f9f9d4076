// SPDX-License-Identifier: MIT
// Runs every example of docs/guide.md, in order, in one private world (fonts,
// XDG folders, Xvfb with Photoshop in front of Illustrator), and compares what
// each prints with the ```output block that follows it.
//
//   ```c       the body of main(), with <stdio.h>, <stdlib.h> and the header included
//   ```js      a module run after the ```js setup block (which loads the library)
//   ```sh      bash, with the vrkfont tool on PATH
//   ```lua file=NAME   written to NAME in the home folder, for the blocks after it
//   ```output  what each code block since the previous ```output prints; the
//              private home reads /home/me and the runtime folder /run/user/1000
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { required, World } from '../node/world.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const source = required('VRK_SOURCE_DIR');
const library = required('VRK_LIBRARY');
const guidePath = path.join(source, 'docs/guide.md');
const guide = fs.readFileSync(guidePath, 'utf8');

const blocks = [];
for (const m of guide.matchAll(/^```(\w*)([^\n]*)\n([\s\S]*?)^```$/gm)) {
  const line = guide.slice(0, m.index).split('\n').length;
  blocks.push({ kind: m[1], info: m[2].trim(), body: m[3], line });
}
const setup = blocks.find((b) => b.kind === 'js' && b.info === 'setup');
assert.ok(setup, 'the guide has a ```js setup block');

const world = await World.create();
await world.windows('Adobe Illustrator', 'Adobe Photoshop');
const work = path.join(world.root, 'examples');
fs.mkdirSync(work);
fs.symlinkSync(path.join(here, '../node/node_modules'), path.join(work, 'node_modules'));
const env = {
  ...process.env,
  PATH: `${path.dirname(required('VRK_TOOL'))}:${process.env.PATH}`,
  LD_LIBRARY_PATH: path.dirname(library),
  LC_ALL: 'C.UTF-8',
};
after(() => world.close());

function run(command, args, input) {
  const result = spawnSync(command, args, { cwd: world.home, env, input, encoding: 'utf8', timeout: 60000 });
  if (result.error) throw result.error;
  return result;
}

function compileAndRun(block) {
  const file = path.join(work, `line${block.line}.c`);
  fs.writeFileSync(
    file,
    `#include <stdio.h>\n#include <stdlib.h>\n#include <vrkfont/VRKFont.h>\n\nint main(void) {\n${block.body}  return 0;\n}\n`,
  );
  const cc = run(process.env.VRK_C_COMPILER || 'cc', [
    '-std=c11', '-Wall', '-Wextra', '-Werror', `-I${source}/include`, file, '-o', file.slice(0, -2),
    `-L${path.dirname(library)}`, '-lVRKFont',
  ]);
  if (cc.status !== 0) return cc;
  return run(file.slice(0, -2), []);
}

function runBlock(block) {
  switch (block.kind) {
    case 'c':
      return compileAndRun(block);
    case 'js': {
      const file = path.join(work, `line${block.line}.mjs`);
      fs.writeFileSync(file, block === setup ? setup.body : `${setup.body}\n${block.body}`);
      return run(process.execPath, [file]);
    }
    case 'sh':
      return run('bash', ['-c', block.body]);
    default:
      throw new Error(`guide.md:${block.line}: no way to run a \`\`\`${block.kind} block`);
  }
}

const shown = (text) =>
  text
    .replaceAll(world.home.replaceAll('/', '\\/'), '\\/home\\/me')
    .replaceAll(world.home, '/home/me')
    .replaceAll(world.runtime, '/run/user/1000');

let pending = [];
for (const block of blocks) {
  if (block.kind === 'lua') {
    const name = /file=(\S+)/.exec(block.info)?.[1];
    test(`guide.md:${block.line} lua ${name}`, () => {
      assert.ok(name, 'a lua block names its file');
      fs.writeFileSync(path.join(world.home, name), block.body);
    });
  } else if (block.kind === 'output') {
    const expected = block.body;
    for (const done of pending) {
      test(`guide.md:${done.line} ${done.kind}`, () => {
        const result = runBlock(done);
        assert.equal(result.status, 0, `exit status ${result.status}\n${result.stdout}${result.stderr}`);
        assert.equal(shown(result.stdout), expected);
      });
    }
    pending = [];
  } else if (['c', 'js', 'sh'].includes(block.kind)) {
    if (block !== setup) pending.push(block);
  } else if (block.kind !== 'text') {
    throw new Error(`guide.md:${block.line}: an unknown kind of block ("${block.kind}")`);
  }
}
test('every example has its output', () => {
  assert.deepEqual(pending.map((b) => `guide.md:${b.line}`), []);
});
test('the setup block loads every export', () => {
  const result = runBlock(setup);
  assert.equal(result.status, 0, result.stderr);
  assert.equal((setup.body.match(/lib\.func\(/g) || []).length, 13);
});
