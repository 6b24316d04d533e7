// share/vexmira/vexmira_arc.ksy compiled to JavaScript by the Kaitai Struct
// compiler and run with its runtime over the clean archives the builders
// write; every entry compared field by field with `vexmira --json`.
//
// Usage: node kaitai_test.mjs --files GENERATOR --sample SAMPLE --vexmira TOOL --share DIR
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, readdirSync, rmSync, statSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import path from "node:path";
import { parseArgs } from "node:util";

const require = createRequire(import.meta.url);
const { values: args } = parseArgs({
  options: { files: { type: "string" }, sample: { type: "string" }, vexmira: { type: "string" }, share: { type: "string" } },
});
for (const name of ["files", "sample", "vexmira", "share"]) {
  if (!args[name]) throw new Error(`--${name} is required`);
}

function loadModules() {
  try {
    return [require("kaitai-struct-compiler"), require("js-yaml"), require("kaitai-struct/KaitaiStream")];
  } catch (error) {
    console.error(`FAILED: ${error.message}\n(scripts/setup.sh runs npm ci in tests/integrations)`);
    process.exit(1);
  }
}
const [compiler, yaml, KaitaiStream] = loadModules();

// The generated module, evaluated as CommonJS with the runtime it requires.
async function compiledParser(ksyPath) {
  const description = yaml.load(readFileSync(ksyPath, "utf8"));
  const files = await compiler.compile("javascript", description, null, false);
  const source = files["VexmiraArc.js"];
  if (!source) throw new Error(`the compiler wrote ${Object.keys(files).join(", ")}, not VexmiraArc.js`);
  const module = { exports: {} };
  new Function("module", "exports", "require", source)(module, module.exports, (name) =>
    name === "kaitai-struct/KaitaiStream" ? KaitaiStream : require(name));
  return module.exports.VexmiraArc;
}

// The entries as Kaitai reads them, in the JSON's terms. Offsets are chained
// from the sizes the description gives each part: a wrong size shows as a
// wrong offset of every entry after it.
function kaitaiEntries(VexmiraArc, bytes) {
  const parsed = new VexmiraArc(new KaitaiStream(bytes));
  const header = parsed.header;
  let at = header.hasExtension ? 25 : 21;
  const entries = parsed.entries.map((entry) => {
    const row = {
      name: entry.name,
      full_size: entry.fullSize,
      compressed_size: entry.compressedSize,
      method: entry.method,
      locked: entry.locked,
      header_offset: at,
      header_size: entry.headerSize,
      data_offset: at + entry.headerSize + entry.nameLength,
      long2: entry.long2,
      word6: entry.word6,
      long17: entry.long17,
    };
    at = row.data_offset + entry.data.length;
    return row;
  });
  return { compressId: header.compressId, entries, end: at };
}

function toolListing(file) {
  const lines = execFileSync(args.vexmira, ["--json", file], { maxBuffer: 1 << 28 }).toString().trim().split("\n");
  if (lines.length !== 1) throw new Error(`${file}: ${lines.length} listings, expected 1`);
  return JSON.parse(lines[0]);
}

const scratch = mkdtempSync(path.join(tmpdir(), "vexmira-kaitai-"));
let passed = 0;
const failures = [];
const check = (condition, message) => {
  if (condition) passed++;
  else failures.push(message);
};
try {
  execFileSync(args.files, [scratch]);
  execFileSync(args.sample, ["archive", path.join(scratch, "sample.ARC")]);
  execFileSync(args.sample, ["many", path.join(scratch, "many.ARC"), "5000"]);
  // The generator's valid archives: every identifier, an empty name, no
  // entries, and the extension words of the archive header and of an entry.
  const manifest = readFileSync(path.join(scratch, "magic", "manifest.tsv"), "utf8").trim().split("\n");
  const archives = manifest.map((line) => line.split("\t")).filter(([kind]) => kind === "valid")
    .map(([, file]) => path.join(scratch, "magic", file));
  archives.push(path.join(scratch, "sample.ARC"), path.join(scratch, "many.ARC"));
  check(archives.some((file) => file.endsWith("valid-extended-entry.ARC")), "no archive with an extended entry");

  const VexmiraArc = await compiledParser(path.join(args.share, "vexmira_arc.ksy"));
  const fields = ["name", "full_size", "compressed_size", "method", "locked", "header_offset", "header_size",
                  "data_offset", "long2", "word6", "long17"];
  for (const file of archives) {
    const what = path.basename(file);
    let kaitai;
    try {
      kaitai = kaitaiEntries(VexmiraArc, readFileSync(file));
    } catch (error) {
      check(false, `${what}: Kaitai could not parse it: ${error.message || error}`);
      continue;
    }
    const tool = toolListing(file);
    check(tool.error === null && tool.offset === 0, `${what}: the tool did not list it at 0: ${tool.error}`);
    check(kaitai.entries.length === tool.entries.length,
          `${what}: Kaitai read ${kaitai.entries.length} entries, the tool ${tool.entries.length}`);
    // The tool examines nothing in fewer bytes than a header and one entry header.
    const size = statSync(file).size;
    const toolEnd = size < 46 ? 0 : size;
    check(kaitai.end === size && tool.archive_end === toolEnd,
          `${what}: Kaitai ends at ${kaitai.end}, the tool at ${tool.archive_end}, the file at ${size}`);
    kaitai.entries.slice(0, tool.entries.length).forEach((entry, index) => {
      const differing = fields.filter((field) => entry[field] !== tool.entries[index][field]);
      check(differing.length === 0, `${what} entry ${index}: ` +
            differing.map((field) => `${field} Kaitai ${entry[field]}, tool ${tool.entries[index][field]}`).join("; "));
    });
  }
  // A header the tool refuses is refused by the description too.
  for (const broken of readdirSync(path.join(scratch, "magic")).filter((name) => /^broken-type/.test(name))) {
    let parsed = true;
    try {
      kaitaiEntries(VexmiraArc, readFileSync(path.join(scratch, "magic", broken)));
    } catch {
      parsed = false;
    }
    check(!parsed, `${broken}: Kaitai accepted an archive type the tool refuses`);
  }
} finally {
  rmSync(scratch, { recursive: true, force: true });
}
for (const failure of failures) console.error(`FAILED: ${failure}`);
console.log(`kaitai: ${passed} passed, ${failures.length} failed`);
process.exit(failures.length === 0 ? 0 : 1);
