// ONNX Runtime (npm onnxruntime-node) timed as peer-bench times the others.
//
//   node ort_runner.js JOB.json
//
// JOB: {"module": dir holding node_modules/onnxruntime-node, "model": file.onnx,
//       "inputs": {name: {"type": "int64"|"float32", "dims": [...], "file": raw LE values}},
//       "session": session options, "threads": N, "what": "rtf"|"wave", "repeats": N,
//       "wave_out": file}
// Prints one JSON object: load seconds (session creation), the process's peak resident
// KiB, and per "what": the seconds of each request after one warm-up (rtf), or the
// waveform of one request written to "wave_out" as float32 samples (wave).
"use strict";
const fs = require("fs");
const path = require("path");

const job = JSON.parse(fs.readFileSync(process.argv[2], "utf8"));
const ort = require(path.join(job.module, "node_modules", "onnxruntime-node"));

function feeds() {
  const out = {};
  for (const [name, input] of Object.entries(job.inputs)) {
    const bytes = fs.readFileSync(input.file);
    const copy = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length);
    const values = input.type === "int64" ? new BigInt64Array(copy) : new Float32Array(copy);
    out[name] = new ort.Tensor(input.type, values, input.dims);
  }
  return out;
}

async function main() {
  const options = Object.assign({}, job.session, {
    intraOpNumThreads: job.threads, interOpNumThreads: 1, executionProviders: ["cpu"]});
  const input = feeds();
  const start = process.hrtime.bigint();
  const session = await ort.InferenceSession.create(job.model, options);
  const load = Number(process.hrtime.bigint() - start) / 1e9;
  const result = {load};
  if (job.what === "rtf") {
    let samples = 0;
    result.seconds = [];
    for (let i = 0; i <= job.repeats; ++i) {
      const t0 = process.hrtime.bigint();
      const out = await session.run(input);
      const seconds = Number(process.hrtime.bigint() - t0) / 1e9;
      samples = out.wave.dims[0];
      if (i) result.seconds.push(seconds);  // the first is the warm-up
    }
    result.samples = samples;
  } else if (job.what === "wave") {
    const out = await session.run(input);
    fs.writeFileSync(job.wave_out, Buffer.from(out.wave.data.buffer));
  }
  // VmHWM, not resourceUsage().maxRSS: that keeps the peak from before the exec,
  // the whole driver process that forked this one.
  const hwm = /^VmHWM:\s+(\d+)/m.exec(fs.readFileSync("/proc/self/status", "utf8"));
  result.peak_kib = hwm ? Number(hwm[1]) : NaN;
  process.stdout.write(JSON.stringify(result) + "\n");
}

main().catch((error) => {
  process.stderr.write(String(error && error.stack || error) + "\n");
  process.exit(1);
});
