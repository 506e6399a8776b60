'use strict';
// Checks CycloneDX JSON documents against the schema of the version each declares, with the
// CycloneDX library's own strict validator (installed by scripts/install-deps.sh):
//   node validate.js <installed validator dir> <bom.json>...
// Exit status 0 when every document is valid, 1 otherwise, with the schema's errors printed.
const fs = require('node:fs');
const path = require('node:path');
const { createRequire } = require('node:module');

async function main([dir, ...boms]) {
  const CDX = createRequire(path.join(path.resolve(dir), 'package.json'))(
    '@cyclonedx/cyclonedx-library');
  let failed = false;
  for (const file of boms) {
    const text = fs.readFileSync(file, 'utf8');
    // A version the library has no schema for makes validate() throw, which ends the run.
    const version = JSON.parse(text).specVersion;
    const errors = await new CDX.Validation.JsonStrictValidator(version).validate(text);
    if (errors === null) {
      console.log(`${file}: valid CycloneDX ${version}`);
    } else {
      console.error(`${file}: not valid CycloneDX ${version}:\n${JSON.stringify(errors, null, 2)}`);
      failed = true;
    }
  }
  return failed ? 1 : 0;
}

main(process.argv.slice(2)).then((status) => { process.exitCode = status; }, (error) => {
  console.error(error.message);
  process.exitCode = 1;
});
