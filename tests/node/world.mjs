// SPDX-License-Identifier: MIT
// A private world for calling libVRKFont from Node.js: generated fonts under a
// private fontconfig configuration, private XDG folders, and an Xvfb on which
// test_window stands in for host applications. Used by the client test and by
// the guide's examples. create() changes process.env, and must run before the
// library is loaded: fontconfig reads its environment when it first starts.
import { spawn, spawnSync } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set (the CTest test sets it)`);
  return value;
}

export class World {
  static async create() {
    const world = new World(fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'vrkfont-node-'))));
    try {
      world.#folders();
      world.#fonts();
      await world.#xvfb();
    } catch (error) {
      await world.close();
      throw error;
    }
    return world;
  }

  constructor(root) {
    this.root = root;
    this.home = path.join(root, 'home');
    this.dataHome = path.join(this.home, '.local/share');
    this.configHome = path.join(this.home, '.config');
    this.runtime = path.join(root, 'run');
    this.fontDir = path.join(this.home, 'fonts');
    this.windowProcesses = [];
  }

  #folders() {
    const env = {
      HOME: this.home,
      XDG_CONFIG_HOME: this.configHome,
      XDG_DATA_HOME: this.dataHome,
      XDG_CACHE_HOME: path.join(this.home, '.cache'),
      XDG_DATA_DIRS: path.join(this.root, 'share'),
      XDG_RUNTIME_DIR: this.runtime,
      FONTCONFIG_FILE: path.join(this.root, 'fonts.conf'),
    };
    for (const dir of Object.values(env)) {
      if (!dir.endsWith('.conf')) fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
    }
    fs.mkdirSync(path.join(this.dataHome, 'applications'));
    fs.mkdirSync(path.join(this.root, 'share/fonts'));
    // Only the private folders: no system font, no user setting leaks in.
    fs.writeFileSync(
      env.FONTCONFIG_FILE,
      `<fontconfig><dir>${this.root}/share/fonts</dir><dir prefix="xdg">fonts</dir>` +
        `<cachedir>${env.XDG_CACHE_HOME}/fontconfig</cachedir>` +
        `<include ignore_missing="yes" prefix="xdg">fontconfig/conf.d</include></fontconfig>\n`,
    );
    Object.assign(process.env, env);
  }

  #fonts() {
    const python = process.env.VRK_FONT_PYTHON || '/usr/bin/python3';
    const generator = path.join(required('VRK_SOURCE_DIR'), 'tests/fonts/gen_fonts.py');
    const run = spawnSync(python, [generator, this.fontDir], { encoding: 'utf8' });
    if (run.status !== 0) throw new Error(`font generator failed: ${run.stderr || run.error}`);
  }

  async #xvfb() {
    // -noreset: a server resetting as the last window leaves refuses the next one.
    const server = spawn('Xvfb', ['-displayfd', '3', '-noreset', '-nolisten', 'tcp', '-screen', '0', '1280x1024x24'], {
      stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
    });
    this.server = server;
    let number = '';
    server.stdio[3].setEncoding('utf8');
    const announced = new Promise((resolve, reject) => {
      server.once('error', reject);
      server.once('exit', () => reject(new Error('Xvfb ended before announcing its display')));
      server.stdio[3].on('data', (chunk) => {
        number += chunk;
        if (number.includes('\n')) resolve();
      });
    });
    await withTimeout(announced, 20000, 'Xvfb never announced its display');
    process.env.DISPLAY = `:${number.trim()}`;
  }

  font(name) {
    return path.join(this.fontDir, name);
  }

  // Replaces the windows on screen with one per class name; the last is in front.
  async windows(...classes) {
    await this.closeWindows();
    for (const name of classes) {
      const child = spawn(required('VRK_TEST_WINDOW'), [name], { stdio: ['pipe', 'pipe', 'inherit'] });
      this.windowProcesses.push(child);
      let out = '';
      child.stdout.setEncoding('utf8');
      const ready = new Promise((resolve, reject) => {
        child.once('error', reject);
        child.once('exit', (code) => reject(new Error(`test_window ${name} ended (${code})`)));
        child.stdout.on('data', (chunk) => {
          out += chunk;
          if (out.includes('ready')) resolve();
        });
      });
      await withTimeout(ready, 10000, `test_window ${name} never got ready`);
    }
  }

  async closeWindows() {
    const children = this.windowProcesses.splice(0);
    await Promise.all(
      children.map((child) => {
        if (child.exitCode !== null || child.signalCode !== null) return null;
        const exited = once(child, 'exit');
        child.stdin.end();
        return exited;
      }),
    );
  }

  async close() {
    await this.closeWindows();
    if (this.server && this.server.exitCode === null) {
      const exited = once(this.server, 'exit');
      this.server.kill('SIGTERM');
      await exited;
    }
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}

function withTimeout(promise, ms, message) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(message)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}
