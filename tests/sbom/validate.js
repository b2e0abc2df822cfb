// SPDX-FileCopyrightText: 2026 The VYKOSTRA developers
// SPDX-License-Identifier: MIT
// node validate.js FILE...: each a CycloneDX 1.6 JSON document, checked by
// the CycloneDX library's strict JSON validator (no property the schema
// does not name).  Exits 1, naming each document and what is wrong, if
// any is invalid.
'use strict';
const fs = require('fs');
const { Validation, Spec } = require('@cyclonedx/cyclonedx-library');

const validator = new Validation.JsonStrictValidator(Spec.Version.v1dot6);
(async () => {
  let failed = false;
  for (const file of process.argv.slice(2)) {
    const errors = await validator.validate(fs.readFileSync(file, 'utf8'));
    if (errors !== null) {
      failed = true;
      console.error(`${file}: ${JSON.stringify(errors)}`);
    } else {
      console.log(`${file}: valid CycloneDX 1.6`);
    }
  }
  process.exit(failed ? 1 : 0);
})().catch((error) => {
  console.error(error);
  process.exit(2);
});
