// SPDX-License-Identifier: MIT
// A private world for calling libVRKFont from Node.js (the guide's examples):
// generated fonts under a private fontconfig configuration, private XDG
// folders, and an Xvfb on which test_window stands in for host applications.
// create() changes process.env, so it runs before the library loads.
import { spawn, spawnSync } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export function required(name) {
  if (!process.env[name]) throw new Error(`${name} is not set (the CTest test sets it)`);
  return process.env[name];
}

// What a child printed on `stream` once it holds `text`; fails when it ends first.
function printed(child, stream, text, ms) {
  let out = '', timer;
  stream.setEncoding('utf8');
  return new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error(`${child.spawnfile} printed no ${JSON.stringify(text)}`)), ms);
    child.once('error', reject).once('exit', (code) => reject(new Error(`${child.spawnfile} ended (${code})`)));
    stream.on('data', (chunk) => (out += chunk).includes(text) && resolve(out));
  }).finally(() => clearTimeout(timer));
}

export class World {
  static async create() {
    const world = new World(fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'vrkfont-node-'))));
    try {
      world.#folders();
      // -noreset: a server resetting as the last window leaves refuses the next one.
      const args = ['-displayfd', '3', '-noreset', '-nolisten', 'tcp', '-screen', '0', '1280x1024x24'];
      world.server = spawn('Xvfb', args, { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
      process.env.DISPLAY = `:${(await printed(world.server, world.server.stdio[3], '\n', 20000)).trim()}`;
    } catch (error) {
      await world.close();
      throw error;
    }
    return world;
  }

  constructor(root) {
    Object.assign(this, { root, home: path.join(root, 'home'), runtime: path.join(root, 'run'), windowProcesses: [] });
    this.dataHome = path.join(this.home, '.local/share');
    this.fontDir = path.join(this.home, 'fonts');
  }

  #folders() {
    const cache = path.join(this.home, '.cache');
    const env = { HOME: this.home, XDG_CONFIG_HOME: path.join(this.home, '.config'), XDG_DATA_HOME: this.dataHome,
      XDG_CACHE_HOME: cache, XDG_DATA_DIRS: path.join(this.root, 'share'), XDG_RUNTIME_DIR: this.runtime };
    for (const dir of [...Object.values(env), `${this.dataHome}/applications`, `${this.root}/share/fonts`]) {
      fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
    }
    // Only the private folders: no system font, no user setting leaks in.
    env.FONTCONFIG_FILE = path.join(this.root, 'fonts.conf');
    fs.writeFileSync(env.FONTCONFIG_FILE, `<fontconfig><dir>${this.root}/share/fonts</dir><dir prefix="xdg">fonts</dir>` +
      `<cachedir>${cache}/fontconfig</cachedir><include ignore_missing="yes" prefix="xdg">fontconfig/conf.d</include></fontconfig>\n`);
    Object.assign(process.env, env);
    const generator = path.join(required('VRK_SOURCE_DIR'), 'tests/fonts/gen_fonts.py');
    const run = spawnSync(process.env.VRK_FONT_PYTHON || '/usr/bin/python3', [generator, this.fontDir], { encoding: 'utf8' });
    if (run.status !== 0) throw new Error(`font generator failed: ${run.stderr || run.error}`);
  }

  // One window per class name; the last is in front.
  async windows(...classes) {
    for (const name of classes) {
      const child = spawn(required('VRK_TEST_WINDOW'), [name], { stdio: ['pipe', 'pipe', 'inherit'] });
      this.windowProcesses.push(child);
      await printed(child, child.stdout, 'ready', 10000);
    }
  }

  async close() {
    const running = this.windowProcesses.filter((c) => c.exitCode === null && c.signalCode === null);
    await Promise.all(running.map((child) => (child.stdin.end(), once(child, 'exit'))));
    if (this.server?.exitCode === null) this.server.kill('SIGTERM'), await once(this.server, 'exit');
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}
