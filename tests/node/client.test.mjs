// SPDX-License-Identifier: MIT
// What only a JavaScript caller shows: UTF-8 both ways through koffi, and
// every answer freed or kept by the ownership rules (leaks.mjs runs this under
// valgrind). What each export answers is the C++ tests' business.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, test } from 'node:test';
import koffi from 'koffi';
import { required, World } from './world.mjs';

const world = await World.create();
after(() => world.close());

// Opaque, so that koffi hands back the address free() needs, not a decoded copy.
koffi.pointer('VrkText', koffi.opaque());
const lib = koffi.load(required('VRK_LIBRARY'));
const free = koffi.load('libc.so.6').func('void free(void *ptr)');
const constants = new Map(); // a constant answer -> the addresses it came from
const vrk = { FontIsRegistered: lib.func('bool FontIsRegistered(const char *p, const char *ps, const char *f)') };
// [name, arguments]: GetAppName's answer is always freed, "1" and "0" never, the others unless "".
for (const [name, count] of Object.entries({ SetAppName: 1, GetAppName: 0, SetSoftwareFont: 5, SetSoftwareBatchFonts: 2,
  SetSoftwareDoJs: 3, GetSoftwareFilePath: 1, GetSoftwareFileFonts: 1, RegisterFont: 1, UnRegisterFont: 1, FindFont: 2,
  GetAvailableFonts: 0, CheckSoftwareIsInstalled: 1 })) {
  const call = lib.func(`VrkText ${name}(${Array.from({ length: count }, () => 'const char *').join(', ') || 'void'})`);
  const constant = name === 'SetAppName' || name === 'CheckSoftwareIsInstalled';
  vrk[name] = (...args) => {
    const pointer = call(...args);
    assert.ok(pointer, `${name} answered NULL`);
    const text = koffi.decode.string(pointer);
    if (name === 'GetAppName' || (!constant && text !== '')) return free(pointer), text;
    const key = constant ? `${name} "${text}"` : '""';
    constants.set(key, (constants.get(key) ?? new Set()).add(koffi.address(pointer)));
    return text;
  };
}

test('UTF-8 both ways, and every answer freed or kept as its kind says', () => {
  assert.equal(vrk.GetAppName(), ''); // a heap copy all the same
  assert.equal(vrk.SetAppName('穆仙'), '1');
  assert.equal(vrk.GetAppName(), '穆仙');
  const han = path.join(world.fontDir, 'han/VrkHan-Regular.ttf');
  const list = JSON.stringify([han, path.join(world.root, '缺.ttf')]);
  assert.equal(vrk.RegisterFont('[]'), '');
  assert.equal(vrk.RegisterFont(list), '1|-|0');
  assert.equal(vrk.FontIsRegistered(null, 'NoSuchFont', '维克黑体'), true);
  assert.equal(vrk.FindFont(null, '维克黑体'), `Vrk Han|-|${han}`);
  assert.ok(JSON.parse(vrk.GetAvailableFonts()).some((r) => r.family === '维克黑体'));
  assert.equal(vrk.UnRegisterFont(list), '1|-|0');
  fs.writeFileSync(`${world.dataHome}/applications/org.example.D.desktop`, '[Desktop Entry]\nType=Application\nName=D\nExec=d\n');
  assert.equal(vrk.CheckSoftwareIsInstalled('org.example.D'), '1');
  assert.equal(vrk.CheckSoftwareIsInstalled('org.example.Missing'), '0');
  // With no host in front: envelopes all the same, and no path.
  for (const envelope of [vrk.SetSoftwareFont('字体', '', '', 'host.lua', ''), vrk.SetSoftwareBatchFonts('字', 'host.lua'),
    vrk.SetSoftwareDoJs('1;', '穆;', 'host.lua'), vrk.GetSoftwareFileFonts('host.lua')]) {
    assert.equal(typeof JSON.parse(envelope).code, 'string');
  }
  assert.equal(vrk.GetSoftwareFilePath('host.lua'), '');
  // One address each, however often answered: a constant that were a fresh
  // copy would leak, since the caller never frees it.
  assert.deepEqual([...constants].map(([key, addresses]) => [key, addresses.size]).sort(),
    [['""', 1], ['CheckSoftwareIsInstalled "0"', 1], ['CheckSoftwareIsInstalled "1"', 1], ['SetAppName "1"', 1]]);
});
