'use strict';
// startUpdater's checks and the process it asks for, with the platform and the process start
// stubbed (this host is not Windows); the start itself is proven under Wine by the build's tests.
const assert = require('node:assert/strict');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test, mock, afterEach } = require('node:test');

const talvex = require('..');

const UPDATER = 'C:\\Program Files\\Vendor App\\resources\\app.asar.unpacked\\talvex-updater.exe';
const INSTALLER = 'C:\\Users\\Zoë\\AppData\\Local\\Vendor App\\updates\\Setup 2.0.exe';
const APP = 'C:\\Program Files\\Vendor App\\Vendor App.exe';

const realPlatform = Object.getOwnPropertyDescriptor(process, 'platform');
function setPlatform(value) {
  Object.defineProperty(process, 'platform', { ...realPlatform, value });
}

const realExecPath = process.execPath;

let spawned;
let listened;
function onWindows({ updaterExists = true, starts = true } = {}) {
  setPlatform('win32');
  process.execPath = APP;
  mock.method(fs, 'statSync', () => {
    if (!updaterExists) throw Object.assign(new Error('missing'), { code: 'ENOENT' });
    return { isFile: () => true };
  });
  spawned = [];
  listened = [];
  mock.method(childProcess, 'spawn', (file, args, options) => {
    spawned.push({ file, args, options });
    // libuv reports a failed start by leaving pid unset and emitting 'error' later.
    return { pid: starts ? 4242 : undefined, on(event) { listened.push(event); }, unref() {} };
  });
}
afterEach(() => {
  mock.restoreAll();
  Object.defineProperty(process, 'platform', realPlatform);
  process.execPath = realExecPath;
});

test('starts the updater detached, without a shell, with our pid and the given paths', () => {
  onWindows();
  const result = talvex.startUpdater({ installer: INSTALLER, appExe: APP, updaterPath: UPDATER,
                                       log: 'C:\\Logs\\update.log' });
  assert.deepEqual(spawned, [{
    file: UPDATER,
    args: ['--installer', INSTALLER, '--app-exe', APP, '--wait-pid', String(process.pid),
           '--log', 'C:\\Logs\\update.log'],
    options: { detached: true, stdio: 'ignore', windowsHide: true, shell: false },
  }]);
  assert.equal(result.pid, 4242);
  assert.equal(result.commandLine,
               `"${UPDATER}" --installer "${INSTALLER}" --app-exe "${APP}" --wait-pid ${process.pid}` +
                   ' --log C:\\Logs\\update.log');
});

test('defaults: no --log, our own executable', () => {
  onWindows();
  process.execPath = 'C:\\Apps\\Electron App.exe';
  talvex.startUpdater({ installer: INSTALLER, updaterPath: UPDATER });
  assert.deepEqual(spawned[0].args, ['--installer', INSTALLER, '--app-exe',
                                     'C:\\Apps\\Electron App.exe', '--wait-pid',
                                     String(process.pid)]);
});

// Every bad input is refused before anything starts.
const refusals = [
  [{ installer: undefined }, TypeError, /installer must be a non-empty string/],
  [{ installer: '' }, TypeError, /installer must be a non-empty string/],
  [{ installer: 42 }, TypeError, /installer must be a non-empty string/],
  [{ installer: 'setup.exe' }, TypeError, /installer must be an absolute path/],
  [{ installer: '\\updates\\setup.exe' }, TypeError, /installer must be an absolute path/],
  [{ installer: 'C:updates\\setup.exe' }, TypeError, /installer must be an absolute path/],
  [{ installer: 'C:\\a\0b.exe' }, TypeError, /installer contains a NUL/],
  [{ installer: 'C:\\a\uD800.exe' }, TypeError, /installer contains an unpaired surrogate/],
  [{ installer: INSTALLER, log: 'update.log' }, TypeError, /log must be an absolute path/],
  [{ installer: INSTALLER, log: 'C:\\log\0.txt' }, TypeError, /log contains a NUL/],
  [{ installer: INSTALLER, appExe: 'app.exe' }, TypeError, /appExe must be an absolute path/],
  [{ installer: INSTALLER, appExe: 'C:\\\uDC00' }, TypeError, /appExe contains an unpaired/],
  [{ installer: INSTALLER, updaterPath: 'bin\\u.exe' }, TypeError, /updaterPath must be an absolute/],
  [{ installer: INSTALLER, updaterPath: UPDATER, missing: true }, Error, /updater is missing/],
  // The caller's mistakes show on every platform, before the platform itself.
  [{ platform: 'linux' }, TypeError, /installer must be a non-empty string/],
  [{ installer: 'setup.exe', platform: 'linux' }, TypeError, /installer must be an absolute/],
  [{ installer: INSTALLER, log: 'x.log', platform: 'linux' }, TypeError, /log must be an abs/],
  [{ installer: INSTALLER, platform: 'linux' }, Error, /runs on Windows only, not on linux/],
];
for (const [input, type, message] of refusals) {
  test(`refuses ${JSON.stringify(input)}`, () => {
    onWindows({ updaterExists: !input.missing });
    if (input.platform) setPlatform(input.platform);
    assert.throws(() => talvex.startUpdater({ appExe: APP, updaterPath: UPDATER, ...input }),
                  (error) => error.constructor === type && message.test(error.message));
    assert.deepEqual(spawned, []);
  });
}

test('a start that fails is an error, and its late error event is absorbed', () => {
  onWindows({ starts: false });
  assert.throws(() => talvex.startUpdater({ installer: INSTALLER, updaterPath: UPDATER }),
                /could not be started/);
  assert.deepEqual(listened, ['error']);
});

// Inside app.asar the updater is taken from the real folder beside the archive.
test('updaterPath leaves app.asar for app.asar.unpacked', () => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'talvex-'));
  try {
    for (const [folder, expected] of [
      ['app.asar', 'app.asar.unpacked'],
      ['app', 'app'],
      ['my.app.asar.d', 'my.app.asar.d'],
      ['app.asar.unpacked', 'app.asar.unpacked'],
    ]) {
      const copy = path.join(root, 'resources', folder, 'node_modules', 'talvex-updater');
      fs.mkdirSync(copy, { recursive: true });
      fs.copyFileSync(path.join(__dirname, '..', 'index.js'), path.join(copy, 'index.js'));
      assert.equal(require(copy).updaterPath(),
                   path.join(root, 'resources', expected, 'node_modules', 'talvex-updater', 'bin',
                             'talvex-updater.exe'));
    }
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
});
