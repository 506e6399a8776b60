'use strict';
// lastUpdate against the table of log texts both kits share.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');

const { lastUpdate } = require('..');

const CASES = path.join(__dirname, '..', '..', '..', 'tests', 'handover', 'last_update_cases.txt');

function readCases() {
  const cases = [];
  let current = null;
  for (const line of fs.readFileSync(CASES, 'utf8').split('\n')) {
    if (line.startsWith('== ')) {
      current = { name: line.slice(3), fields: {}, log: null };
      cases.push(current);
    } else if (current === null) {
      continue;
    } else if (current.log === null && (line === '' || line.startsWith('#'))) {
      continue;
    } else if (current.log !== null) {
      current.log.push(line);
    } else if (line === 'log: none') {
      current.log = undefined;
      current = null;
    } else if (line === 'log:') {
      current.log = [];
    } else {
      const colon = line.indexOf(':');
      current.fields[line.slice(0, colon)] = line.slice(colon + 1).trim();
    }
  }
  return cases;
}

function expected({ fields }) {
  if (fields.started === 'no') return null;
  return {
    started: true,
    finished: fields.finished === 'yes',
    installed: fields.installed === 'yes',
    installerStatus: fields.status || null,
    error: fields.error || null,
    relaunchedBy: fields.relaunched === 'none' ? null : fields.relaunched,
  };
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'talvex-log-'));
process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));

for (const [index, entry] of readCases().entries()) {
  test(entry.name, () => {
    const log = path.join(dir, `${index}.log`);
    if (entry.log !== undefined) {
      // The lines up to the next case, without the blank line that separates cases.
      const lines = entry.log.join('\n').replace(/\n*$/, '');
      fs.writeFileSync(log, lines === '' ? '' : `${lines}\n`);
    }
    assert.deepEqual(lastUpdate(log, { appExe: entry.fields.app }), expected(entry));
  });
}

test('a log path or application path that is no string is a mistake, not "no update"', () => {
  assert.throws(() => lastUpdate(undefined), TypeError);
  assert.throws(() => lastUpdate(path.join(dir, 'none.log'), { appExe: 42 }), TypeError);
});
