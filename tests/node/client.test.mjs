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

test('the caller identity round-trips as UTF-8 and picks the variant', async () => {
  assert.equal(vrk.GetAppName(), ''); // a heap copy all the same
  assert.equal(vrk.SetAppName('MuXan'), '1');
  assert.equal(vrk.GetAppName(), 'MuXan');
  await world.windows('Adobe Photoshop');
  host();
  vrk.SetSoftwareFont('VrkAlpha-Regular', '', '', script, '');
  assert.equal(vrk.SetAppName('穆仙'), '1');
  assert.equal(vrk.GetAppName(), '穆仙');
  vrk.SetSoftwareFont('VrkAlpha-Regular', '', '', script, '');
  assert.deepEqual(calls().map((args) => args[5]), ['Muxan', 'Kelvra']);
});

test('session activation: register, query, find, list, unregister', () => {
  const alpha = world.font('alpha/VrkAlpha-Regular.ttf');
  const han = world.font('han/VrkHan-Regular.ttf');
  const list = JSON.stringify([alpha, path.join(world.root, 'missing.ttf'), han]);
  assert.equal(vrk.RegisterFont('[]'), '');
  assert.equal(vrk.RegisterFont(list), '1|-|0|-|1');

  assert.equal(vrk.FontIsRegistered(alpha, null, null), true);
  assert.equal(vrk.FontIsRegistered(null, 'VrkHan-Regular', null), true);
  assert.equal(vrk.FontIsRegistered(null, 'NoSuchFont', '维克黑体'), true);
  assert.equal(vrk.FindFont('VrkAlpha-Regular', null), `Vrk Alpha|-|${alpha}`);
  assert.equal(vrk.FindFont(null, '维克黑体'), `Vrk Han|-|${han}`);
  const records = JSON.parse(vrk.GetAvailableFonts());
  assert.deepEqual(
    records.find((r) => r.postscriptName === 'VrkAlpha-Regular'),
    { path: alpha, postscriptName: 'VrkAlpha-Regular', family: 'Vrk Alpha', style: 'Regular' },
  );
  // The session's state: links in the runtime folder, announced by one conf.d file.
  const conf = fs.readFileSync(
    path.join(world.configHome, 'fontconfig/conf.d/50-vrkfont-session-fonts.conf'), 'utf8');
  assert.match(conf, new RegExp(`<dir>${world.runtime}/vrkfont-fonts</dir>`));
  assert.equal(fs.readdirSync(path.join(world.runtime, 'vrkfont-fonts')).length, 2);

  assert.equal(vrk.UnRegisterFont(list), '1|-|0|-|1');
  assert.equal(vrk.FontIsRegistered(alpha, null, null), false);
  assert.equal(vrk.FontIsRegistered(null, 'VrkHan-Regular', null), false);
  assert.equal(vrk.FindFont('VrkAlpha-Regular', null), '(null)|-|(null)');
  assert.equal(JSON.parse(vrk.GetAvailableFonts()).length, 0);
});

test('CheckSoftwareIsInstalled looks for a desktop entry', () => {
  fs.writeFileSync(
    path.join(world.dataHome, 'applications/org.example.Designer.desktop'),
    '[Desktop Entry]\nType=Application\nName=Designer\nExec=designer\n',
  );
  assert.equal(vrk.CheckSoftwareIsInstalled('org.example.Designer'), '1');
  assert.equal(vrk.CheckSoftwareIsInstalled('org.example.Missing'), '0');
});

test('SetSoftwareFont drives the frontmost host through the script', async () => {
  await world.windows('Adobe Illustrator', 'Adobe Photoshop');
  host({ setSoftwareFont: '{"code": 1, "version": {"build": 7}}' });
  assert.deepEqual(envelope(vrk.SetSoftwareFont('VrkAlpha-Regular', 'a3', 'a4', script, '')), {
    code: '1', msg: 'Success', software: 'Photoshop', version: { build: 7 },
  });
  assert.deepEqual(calls(), [['setSoftwareFont', 'Photoshop', 'VrkAlpha-Regular', 'a3', 'a4', 'Kelvra']]);

  host({ setSoftwareFont: '{"code": "102"}' });
  assert.deepEqual(envelope(vrk.SetSoftwareFont('VrkAlpha-Regular', '', '', script, '')), {
    code: '102', msg: 'Layer Error', software: 'Photoshop',
  });
  const missing = path.join(world.root, 'missing.lua');
  assert.equal(envelope(vrk.SetSoftwareFont('X', '', '', missing, '')).msg, 'AppleScript Init Fail');
  await world.windows('Terminal');
  assert.deepEqual(envelope(vrk.SetSoftwareFont('X', '', '', script, '')), {
    code: '101', msg: 'No Software', software: 'Terminal', version: '',
  });
});

test('SetSoftwareFont hands the font to the Sketch plug-in, installing it first', async () => {
  await world.windows('Sketch');
  host();
  const ours = path.join(world.home, 'KelvraSetFont.sketchplugin');
  fs.mkdirSync(path.join(ours, 'Contents/Sketch'), { recursive: true });
  fs.writeFileSync(path.join(ours, 'Contents/Sketch/script.js'), '// plug-in\n');
  // Without Sketch's plug-in folder there is nowhere to install it.
  assert.equal(envelope(vrk.SetSoftwareFont('VrkHan-Regular', '', '', script, ours)).msg, 'Sketch Plugin Fail');
  assert.deepEqual(calls(), []);

  const plugins = path.join(world.dataHome, 'com.bohemiancoding.sketch3/Plugins');
  fs.mkdirSync(plugins, { recursive: true });
  assert.equal(envelope(vrk.SetSoftwareFont('VrkHan-Regular', '', '', script, ours)).software, 'Sketch');
  const installed = path.join(plugins, 'KelvraSetFont.sketchplugin/Contents/Sketch');
  assert.ok(fs.existsSync(path.join(installed, 'script.js')));
  assert.equal(fs.readFileSync(path.join(installed, 'KelvraFontName.txt'), 'utf8'), 'VrkHan-Regular');
  assert.equal(calls()[0][1], 'Sketch');
});

test('SetSoftwareFont hands the font to the Adobe XD plug-in only when it is there', async () => {
  await world.windows('XD');
  host();
  assert.deepEqual(envelope(vrk.SetSoftwareFont('VrkAlpha-Bold', '', '', script, '')), {
    code: '105', msg: 'AdobeXD Plugin Lose', software: '', version: '',
  });
  const uxp = path.join(world.dataHome, 'Adobe/UXP');
  fs.mkdirSync(path.join(uxp, 'Plugins/External/KelvraSetFont'), { recursive: true });
  const data = path.join(uxp, 'PluginsStorage/SPRK/External/KelvraSetFont/PluginData');
  fs.mkdirSync(data, { recursive: true });
  assert.equal(envelope(vrk.SetSoftwareFont('VrkAlpha-Bold', '', '', script, '')).code, '1');
  assert.equal(fs.readFileSync(path.join(data, 'KelvraFontName.txt'), 'utf8'), 'VrkAlpha-Bold');
  assert.equal(calls()[0][1], 'AdobeXD');
});

test('SetSoftwareBatchFonts passes the map and returns the handler result', async () => {
  await world.windows('Adobe Illustrator');
  const map = JSON.stringify({ 'VrkAlpha-Regular': 'VrkAlpha-Bold' });
  host({ setSoftwareBatchFonts: '{"code": "1", "version": "7", "doResult": {"replaced": 2}}' });
  assert.deepEqual(envelope(vrk.SetSoftwareBatchFonts(map, script)), {
    code: '1', msg: 'Success', software: 'Illustrator', version: '7', fontMapResult: { replaced: 2 },
  });
  assert.deepEqual(calls(), [['setSoftwareBatchFonts', 'Illustrator', map]]);
  host({ setSoftwareBatchFonts: '{"code": "102"}' });
  assert.equal(envelope(vrk.SetSoftwareBatchFonts(map, script)).msg, 'Can`t connect to software');
});

test('SetSoftwareDoJs runs each script in its own host', async () => {
  await world.windows('Adobe Photoshop', 'Adobe Illustrator');
  host({ setSoftwareDoJs: '{"code": "1", "version": "7", "doResult": "done"}' });
  const result = envelope(vrk.SetSoftwareDoJs('app.name;', 'app.version;', script));
  assert.equal(result.code, '1');
  assert.deepEqual(result.psResult, { code: '1', msg: 'Success', software: 'Photoshop', version: '7', doResult: 'done' });
  assert.equal(result.aiResult.software, 'Illustrator');
  assert.deepEqual(calls(), [['setSoftwareDoJs', 'Photoshop', 'app.name;'], ['setSoftwareDoJs', 'Illustrator', 'app.version;']]);
});

test('GetSoftwareFilePath turns the host path into a file path', async () => {
  await world.windows('Adobe InDesign');
  host({ getSoftwareFilePath: 'Disk:home:me:poster 穆.indd' });
  assert.equal(vrk.GetSoftwareFilePath(script), '/home/me/poster 穆.indd');
  assert.deepEqual(calls(), [['getSoftwareFilePath', 'InDesign']]);
  host({ getSoftwareFilePath: '' });
  assert.equal(vrk.GetSoftwareFilePath(script), '');
});

test('GetSoftwareFileFonts returns the font list unchanged', async () => {
  await world.windows('Adobe Photoshop');
  host({ getSoftwareFileFonts: '{"code": "1", "fontListString": "VrkAlpha-Regular,VrkHan-Regular"}' });
  assert.deepEqual(envelope(vrk.GetSoftwareFileFonts(script)), {
    code: '1', msg: 'Success', software: 'Photoshop', fontListString: 'VrkAlpha-Regular,VrkHan-Regular',
  });
  host({ getSoftwareFileFonts: '{"code": "102"}' });
  assert.equal(envelope(vrk.GetSoftwareFileFonts(script)).msg, 'Layer Error');
});

test('constants are shared storage, never heap copies', () => {
  // One address each, whichever export and however often: a constant that
  // were a fresh copy would leak, since the caller never frees it.
  assert.deepEqual(
    [...constants].map(([key, addresses]) => [key, addresses.size]).sort(),
    [['""', 1], ['CheckSoftwareIsInstalled "0"', 1], ['CheckSoftwareIsInstalled "1"', 1], ['SetAppName "1"', 1]],
  );
});
