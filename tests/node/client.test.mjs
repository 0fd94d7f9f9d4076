// SPDX-License-Identifier: MIT
// libVRKFont as the desktop application meets it: loaded through koffi, every
// export called end to end against real fonts, windows, host script and
// plug-in folders, and every heap copy freed.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, test } from 'node:test';
import koffi from 'koffi';
import { required, World } from './world.mjs';

const world = await World.create();

// char * in C. Declared as an opaque pointer so that koffi hands back the
// address, which free() needs, instead of a decoded copy.
koffi.pointer('VrkText', koffi.opaque());
const lib = koffi.load(required('VRK_LIBRARY'));
const free = koffi.load('libc.so.6').func('void free(void *ptr)');
const c = {
  SetAppName: lib.func('VrkText SetAppName(const char *appName)'),
  GetAppName: lib.func('VrkText GetAppName(void)'),
  SetSoftwareFont: lib.func(
    'VrkText SetSoftwareFont(const char *fontPostScriptName, const char *scriptArg3, ' +
      'const char *scriptArg4, const char *scptPath, const char *sketchPluginPath)',
  ),
  SetSoftwareBatchFonts: lib.func('VrkText SetSoftwareBatchFonts(const char *fontMap, const char *scptPath)'),
  SetSoftwareDoJs: lib.func(
    'VrkText SetSoftwareDoJs(const char *psJsContent, const char *aiJsContent, const char *scptPath)',
  ),
  GetSoftwareFilePath: lib.func('VrkText GetSoftwareFilePath(const char *scptPath)'),
  GetSoftwareFileFonts: lib.func('VrkText GetSoftwareFileFonts(const char *scptPath)'),
  RegisterFont: lib.func('VrkText RegisterFont(const char *fontPaths)'),
  UnRegisterFont: lib.func('VrkText UnRegisterFont(const char *fontPaths)'),
  FontIsRegistered: lib.func(
    'bool FontIsRegistered(const char *fontPath, const char *postscriptName, const char *familyName)',
  ),
  FindFont: lib.func('VrkText FindFont(const char *postscriptName, const char *familyName)'),
  GetAvailableFonts: lib.func('VrkText GetAvailableFonts(void)'),
  CheckSoftwareIsInstalled: lib.func('VrkText CheckSoftwareIsInstalled(const char *bundleId)'),
};

// Who frees what: GetAppName's answer always; the other text answers unless
// they are the shared constant "" (which is never a heap copy); the "1"/"0"
// of SetAppName and CheckSoftwareIsInstalled never.
const CONSTANT = 'constant';
const ALWAYS = 'always';
const UNLESS_EMPTY = 'unlessEmpty';
const freed = { count: 0 };
const constants = new Map(); // what a constant said, and by whom -> its addresses

function text(pointer, ownership, name) {
  assert.notEqual(pointer, 0n, 'no export answers NULL');
  const value = koffi.decode.string(pointer);
  if (ownership === ALWAYS || (ownership === UNLESS_EMPTY && value !== '')) {
    free(pointer);
    freed.count++;
  } else {
    const key = value === '' ? '""' : `${name} "${value}"`;
    if (!constants.has(key)) constants.set(key, new Set());
    constants.get(key).add(pointer);
  }
  return value;
}

const vrk = {
  SetAppName: (name) => text(c.SetAppName(name), CONSTANT, 'SetAppName'),
  GetAppName: () => text(c.GetAppName(), ALWAYS),
  CheckSoftwareIsInstalled: (id) => text(c.CheckSoftwareIsInstalled(id), CONSTANT, 'CheckSoftwareIsInstalled'),
  FontIsRegistered: c.FontIsRegistered,
};
for (const name of [
  'SetSoftwareFont', 'SetSoftwareBatchFonts', 'SetSoftwareDoJs', 'GetSoftwareFilePath',
  'GetSoftwareFileFonts', 'RegisterFont', 'UnRegisterFont', 'FindFont', 'GetAvailableFonts',
]) {
  vrk[name] = (...args) => text(c[name](...args), UNLESS_EMPTY);
}
const envelope = (json) => JSON.parse(json);

// A host script that records each call and gives the answer set for its handler.
const script = path.join(world.home, 'host.lua');
const hostLog = path.join(world.root, 'host.log');
function host(answers = {}) {
  const lua = Object.entries(answers)
    .map(([handler, answer]) => `answers[${JSON.stringify(handler)}] = [==[${answer}]==]\n`)
    .join('');
  fs.writeFileSync(
    script,
    `answers = {}\n${lua}` +
      `for _, name in ipairs({"setSoftwareFont", "setSoftwareBatchFonts", "setSoftwareDoJs",\n` +
      `                       "getSoftwareFilePath", "getSoftwareFileFonts"}) do\n` +
      `  _G[name] = function(...)\n` +
      `    local f = io.open(${JSON.stringify(hostLog)}, "a")\n` +
      `    f:write(table.concat({name, ...}, "\\31"), "\\30")\n` +
      `    f:close()\n` +
      `    return answers[name] or '{"code": "1"}'\n` +
      `  end\n` +
      `end\n`,
  );
  fs.rmSync(hostLog, { force: true });
}
const calls = () =>
  fs.existsSync(hostLog) ? fs.readFileSync(hostLog, 'utf8').split('\x1e').slice(0, -1).map((r) => r.split('\x1f')) : [];

after(async () => {
  await world.close();
  // Evidence for the leak check that runs this file under valgrind.
  console.log(`# heap copies freed: ${freed.count}`);
});

// What only a JavaScript caller shows: UTF-8 both ways through koffi, and
// every answer released by the ownership rules (checked under valgrind by
// leaks.mjs). What each export answers is the C++ tests' business.
test('every export from JavaScript, each answer freed or kept as its kind says', async () => {
  assert.equal(vrk.GetAppName(), ''); // a heap copy all the same
  assert.equal(vrk.SetAppName('穆仙'), '1');
  assert.equal(vrk.GetAppName(), '穆仙');

  const alpha = world.font('alpha/VrkAlpha-Regular.ttf');
  const han = world.font('han/VrkHan-Regular.ttf');
  const list = JSON.stringify([alpha, path.join(world.root, 'missing.ttf'), han]);
  assert.equal(vrk.RegisterFont('[]'), '');
  assert.equal(vrk.RegisterFont(list), '1|-|0|-|1');
  assert.equal(vrk.FontIsRegistered(alpha, null, null), true);
  assert.equal(vrk.FontIsRegistered(null, 'NoSuchFont', '维克黑体'), true);
  assert.equal(vrk.FindFont(null, '维克黑体'), `Vrk Han|-|${han}`);
  assert.ok(JSON.parse(vrk.GetAvailableFonts()).some((r) => r.path === alpha));
  assert.equal(vrk.UnRegisterFont(list), '1|-|0|-|1');
  assert.equal(vrk.FindFont('VrkAlpha-Regular', null), '(null)|-|(null)');

  fs.writeFileSync(
    path.join(world.dataHome, 'applications/org.example.Designer.desktop'),
    '[Desktop Entry]\nType=Application\nName=Designer\nExec=designer\n',
  );
  assert.equal(vrk.CheckSoftwareIsInstalled('org.example.Designer'), '1');
  assert.equal(vrk.CheckSoftwareIsInstalled('org.example.Missing'), '0');

  await world.windows('Adobe Illustrator', 'Adobe Photoshop');
  host({ getSoftwareFilePath: 'Disk:home:me:poster 穆.indd' });
  assert.equal(envelope(vrk.SetSoftwareFont('VrkAlpha-Regular', 'a3', 'a4', script, '')).code, '1');
  assert.equal(envelope(vrk.SetSoftwareBatchFonts('{"A":"B"}', script)).software, 'Photoshop');
  assert.equal(envelope(vrk.SetSoftwareDoJs('1;', '2;', script)).aiResult.software, 'Illustrator');
  assert.equal(vrk.GetSoftwareFilePath(script), '/home/me/poster 穆.indd');
  assert.equal(envelope(vrk.GetSoftwareFileFonts(script)).software, 'Photoshop');
  assert.equal(vrk.GetSoftwareFilePath(path.join(world.root, 'missing.lua')), '');
  assert.deepEqual(calls().map((args) => args[0]), [
    'setSoftwareFont', 'setSoftwareBatchFonts', 'setSoftwareDoJs', 'setSoftwareDoJs',
    'getSoftwareFilePath', 'getSoftwareFileFonts',
  ]);
});

test('constants are shared storage, never heap copies', () => {
  // One address each, whichever export and however often: a constant that
  // were a fresh copy would leak, since the caller never frees it.
  assert.deepEqual(
    [...constants].map(([key, addresses]) => [key, addresses.size]).sort(),
    [['""', 1], ['CheckSoftwareIsInstalled "0"', 1], ['CheckSoftwareIsInstalled "1"', 1], ['SetAppName "1"', 1]],
  );
});
