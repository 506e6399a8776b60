'use strict';
// Hands a Windows application over to talvex-updater: starts the updater detached, with the
// installer to run, the application's own executable and process id, and lets the caller quit.
// Also reads the outcome of the last update back from the updater's log.

const childProcess = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const EXE_NAME = 'talvex-updater.exe';

// An executable cannot be started from inside an asar archive, which is a single file; Electron's
// packagers put the files listed in `asarUnpack` in a real folder beside it, app.asar.unpacked.
function updaterPath() {
  return path
    .join(__dirname, 'bin', EXE_NAME)
    .replace(/([\\/])app\.asar(?=[\\/])/, '$1app.asar.unpacked');
}

// Only a path that reads the same from any current directory: "C:\..." or "\\server\...".
// "\dir" and "C:dir" depend on the current drive or directory, which the updater does not share.
function isAbsoluteWindowsPath(value) {
  return /^(?:[A-Za-z]:[\\/]|[\\/]{2})/.test(value);
}

// The updater must read each value back exactly. libuv quotes arguments by the C runtime's rules,
// which carry every character but NUL; and the text crosses UTF-8 on its way, which turns an
// unpaired surrogate into U+FFFD.
function checkPath(field, value) {
  if (typeof value !== 'string' || value === '') {
    throw new TypeError(`talvex-updater: ${field} must be a non-empty string`);
  }
  if (value.includes('\0')) {
    throw new TypeError(`talvex-updater: ${field} contains a NUL character`);
  }
  if (/[\uD800-\uDFFF]/u.test(value)) {
    throw new TypeError(`talvex-updater: ${field} contains an unpaired surrogate`);
  }
  if (!isAbsoluteWindowsPath(value)) {
    throw new TypeError(
      `talvex-updater: ${field} must be an absolute path ("C:\\..." or "\\\\server\\..."): ${value}`);
  }
}

// How libuv writes one argument into the command line (its quote_cmd_arg), so that the returned
// commandLine is the one the updater receives.
function quoteArgument(arg) {
  if (arg === '') return '""';
  if (!/[ \t"]/.test(arg)) return arg;
  if (!/["\\]/.test(arg)) return `"${arg}"`;
  let quoted = '"';
  let backslashes = 0;
  for (const c of arg) {
    if (c === '\\') {
      backslashes += 1;
      continue;
    }
    quoted += '\\'.repeat(c === '"' ? backslashes * 2 + 1 : backslashes) + c;
    backslashes = 0;
  }
  return `${quoted}${'\\'.repeat(backslashes * 2)}"`;
}

function startUpdater(options) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('talvex-updater: startUpdater takes an options object');
  }
  // The caller's own values first, on every platform: a vendor's tests off Windows must still
  // see a bad argument as one. The defaults are Windows paths only on Windows.
  const { installer, log } = options;
  checkPath('installer', installer);
  if (log !== undefined && log !== null) checkPath('log', log);
  if (options.appExe !== undefined && options.appExe !== null) checkPath('appExe', options.appExe);
  if (options.updaterPath !== undefined && options.updaterPath !== null) {
    checkPath('updaterPath', options.updaterPath);
  }
  if (process.platform !== 'win32') {
    throw new Error(`talvex-updater: runs on Windows only, not on ${process.platform}`);
  }
  const appExe = options.appExe ?? process.execPath;
  const updater = options.updaterPath ?? updaterPath();
  checkPath('appExe', appExe);
  checkPath('updaterPath', updater);
  let stat;
  try {
    stat = fs.statSync(updater);
  } catch (error) {
    throw new Error(`talvex-updater: the updater is missing: ${updater} (${error.code})`);
  }
  if (!stat.isFile()) throw new Error(`talvex-updater: the updater is not a file: ${updater}`);

  const args = ['--installer', installer, '--app-exe', appExe, '--wait-pid', String(process.pid)];
  if (log !== undefined && log !== null) args.push('--log', log);
  // detached: the updater outlives us and is not in our console or process group. stdio
  // "ignore": it holds none of our pipes, so whoever reads our output sees its end when we exit.
  // No shell: nothing a caller passes is read by cmd.exe.
  const child = childProcess.spawn(updater, args, {
    detached: true,
    stdio: 'ignore',
    windowsHide: true,
    shell: false,
  });
  if (child.pid === undefined) {
    // The reason arrives as an 'error' event on the next tick; without a listener it would end
    // the caller's process after we have already reported the failure here.
    child.on('error', () => {});
    throw new Error(`talvex-updater: the updater could not be started: ${updater}`);
  }
  child.unref();
  return { pid: child.pid, commandLine: [updater, ...args].map(quoteArgument).join(' ') };
}

const START = '=== talvex-updater start ===';
const RELAUNCH_ENDS = ['relaunched ', 'ERROR: app exe missing', 'ERROR: relaunch failed: '];
// All a second updater for an application that is already being updated writes: it belongs to
// no run.
const REFUSED = 'ERROR: another update of this application is running; installer not run: ';
const OPTIONS = /^installer=.* app_exe=(.*) wait_pid=\S+$/s;

// The form in which the updater compares application paths: without a leading "\\?\", each
// character lower-cased on its own by its full Unicode mapping. The updater lowers a word-final
// capital sigma to a final sigma; folding both small sigmas into one keeps every pair of paths
// it takes for one application equal here too.
function comparablePath(value) {
  const path = value.startsWith('\\\\?\\') ? value.slice(4) : value;
  return Array.from(path, (c) => c.toLowerCase()).join('').replace(/\u03C2/g, '\u03C3');
}

// The outcome of the last run in the log at `logPath`, read from its last start banner on; null
// when the file cannot be read or holds no run. With `appExe`, the last run whose options name
// that application, so that applications sharing one log each read their own. Another run
// writing to the same log may add its lines after that banner: a "relaunched" line naming
// another application is not this run's.
function lastUpdate(logPath, options) {
  const wanted = options?.appExe;
  if (typeof logPath !== 'string') throw new TypeError('talvex-updater: logPath must be a string');
  if (wanted !== undefined && wanted !== null && typeof wanted !== 'string') {
    throw new TypeError('talvex-updater: appExe must be a string');
  }
  let text;
  try {
    text = fs.readFileSync(logPath, 'utf8');
  } catch {
    return null;
  }
  // A line cut off by a crash (no "[seconds] " prefix) is no message.
  const messages = text
    .split('\n')
    .flatMap((line) => /^\[\d+\] (.*)$/s.exec(line)?.slice(1) ?? [])
    .filter((message) => !message.startsWith(REFUSED));
  const target = wanted ? comparablePath(wanted) : null;
  let start = messages.length;
  for (let end = messages.length; start > 0; start -= 1) {
    if (messages[start - 1] !== START) continue;
    if (target === null) break;
    const named = messages.slice(start, end).map((m) => OPTIONS.exec(m)).find(Boolean);
    if (named && comparablePath(named[1]) === target) break;
    end = start - 1;
  }
  if (start === 0) return null;
  const outcome = {
    started: true,
    finished: false,
    installed: false,
    installerStatus: null,
    error: null,
    relaunchedBy: null,
  };
  let appExe = null;
  for (const message of messages.slice(start)) {
    if (message === START) break;
    const options = appExe === null && OPTIONS.exec(message);
    if (options) {
      appExe = options[1];
    } else if (message.startsWith('installer exited: ') && outcome.installerStatus === null) {
      outcome.installerStatus = message.slice('installer exited: '.length);
      outcome.installed = outcome.installerStatus === 'exit code: 0';
    } else if (message === 'app already running (installer /R relaunched), skip') {
      outcome.relaunchedBy = 'installer';
    } else if (message.startsWith('relaunched ')) {
      if (appExe === null || message === `relaunched ${appExe}`) outcome.relaunchedBy = 'updater';
    } else if (message === '=== talvex-updater done') {
      outcome.finished = true;
    }
    if (message.startsWith('ERROR: ')) outcome.error ??= message;
    // Without an installer the run ends with its relaunch attempt and writes no closing banner.
    if (outcome.error === 'ERROR: installer file missing' &&
        RELAUNCH_ENDS.some((end) => message.startsWith(end))) {
      outcome.finished = true;
    }
  }
  return outcome;
}

module.exports = { startUpdater, updaterPath, lastUpdate };
