'use strict';
// A script application as a vendor writes one, run by a Windows Node.js: it hands over to the
// updater for every handover the job file lists, reports what startUpdater returned on standard
// output ("started <pid> <command line>" per handover, in order), and exits.
//   node app.js <job.json>   job: { "handovers": [{ installer, appExe, log, updaterPath }] }
const fs = require('node:fs');
const { startUpdater } = require('./talvex-updater');

const job = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
for (const handover of job.handovers) {
  const { pid, commandLine } = startUpdater(handover);
  process.stdout.write(`started ${pid} ${commandLine}\n`);
}
