// Reads archive files with warcio (an independent WARC reader) and checks every record's
// block digest and every response's payload digest. Prints one line per file:
// "NAME records=N offsets=O1,O2,..."; exits 1 naming the first record that does not match.
// Usage: node warcio_check.mjs NODE_MODULES_DIR FILE.warc.gz ...
import { createHash } from "node:crypto";
import { createReadStream } from "node:fs";
import { basename, join } from "node:path";
import { pathToFileURL } from "node:url";

const [modules, ...files] = process.argv.slice(2);
const { WARCParser } = await import(pathToFileURL(join(modules, "warcio", "dist", "index.js")).href);

function base32(bytes) {
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  let bits = 0, value = 0, out = "";
  for (const b of bytes) {
    value = (value << 8) | b;
    bits += 8;
    while (bits >= 5) {
      out += alphabet[(value >>> (bits - 5)) & 31];
      bits -= 5;
    }
  }
  if (bits > 0) out += alphabet[(value << (5 - bits)) & 31];
  while (out.length % 8) out += "=";
  return out;
}
const sha1 = (bytes) => "sha1:" + base32(createHash("sha1").update(bytes).digest());

let failed = false;
for (const file of files) {
  const offsets = [];
  let count = 0;
  const raw = new WARCParser(createReadStream(file), { parseHttp: false });
  for await (const record of raw) {
    const block = await record.readFully();
    offsets.push(raw.offset);
    ++count;
    if (record.warcBlockDigest && sha1(block) !== record.warcBlockDigest) {
      console.error(`${file}: block digest of record ${count} (${record.warcType}) does not match`);
      failed = true;
    }
  }
  let responses = 0;
  for await (const record of WARCParser.iterRecords(createReadStream(file))) {
    if (record.warcType !== "response" || !record.warcPayloadDigest) {
      await record.skipFully();
      continue;
    }
    ++responses;
    const payload = await record.readFully(false);
    if (sha1(payload) !== record.warcPayloadDigest) {
      console.error(`${file}: payload digest of ${record.warcTargetURI} does not match`);
      failed = true;
    }
  }
  console.log(`${basename(file)} records=${count} responses=${responses} offsets=${offsets.join(",")}`);
}
process.exit(failed ? 1 : 0);
