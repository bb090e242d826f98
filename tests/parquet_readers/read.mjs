// Reads Parquet files with three independent readers and prints, as one
// JSON object per file, what each of them sees:
//   node read.mjs FILE...  ->  {"FILE": {"duckdb": [...rows], "hyparquet": [...rows],
//                                        "arrow": [...rows], "metadata": {...}}}
//   node read.mjs --sql QUERY  ->  {"rows": [...]}, DuckDB's answer
// Rows are objects keyed by column; integers are numbers, NaN is "NaN",
// lists are arrays, structs are objects. "metadata" is hyparquet's reading
// of the footer: key-value pairs, sorting columns, each column chunk's
// encodings and statistics, and its page index as read back.
import { readFileSync } from 'node:fs';
import { DuckDBInstance } from '@duckdb/node-api';
import { parquetMetadata, parquetReadObjects, parquetSchema, readColumnIndex, readOffsetIndex } from 'hyparquet';
import { compressors } from 'hyparquet-compressors';
import { readParquet } from 'parquet-wasm';
import { tableFromIPC } from 'apache-arrow';

function plain(value) {
  if (typeof value === 'bigint') return Number(value);
  if (typeof value === 'number' && Number.isNaN(value)) return 'NaN';
  if (value === null || value === undefined) return null;
  if (ArrayBuffer.isView(value) || Array.isArray(value)) return Array.from(value, plain);
  if (typeof value === 'object' && typeof value.toJSON === 'function' && value.constructor?.name !== 'Object') {
    return plain(value.toJSON());
  }
  if (typeof value === 'object') {
    const out = {};
    for (const [k, v] of Object.entries(value)) out[k] = plain(v);
    return out;
  }
  return value;
}

async function withDuckdb(file) {
  const instance = await DuckDBInstance.create(':memory:');
  const connection = await instance.connect();
  const quoted = file.replaceAll("'", "''");
  const reader = await connection.runAndReadAll(`SELECT * FROM read_parquet('${quoted}')`);
  const rows = reader.getRowObjectsJS().map(plain);
  connection.closeSync();
  return rows;
}

async function withHyparquet(buffer) {
  return (await parquetReadObjects({ file: buffer, compressors })).map(plain);
}

function withArrow(bytes) {
  const table = tableFromIPC(readParquet(bytes).intoIPCStream());
  return table.toArray().map(row => plain(row.toJSON()));
}

function footer(buffer) {
  const meta = parquetMetadata(buffer);
  const schema = parquetSchema(meta);
  const leaves = [];
  const walk = node => (node.children.length ? node.children.forEach(walk) : leaves.push(node.element));
  walk(schema);
  const view = new DataView(buffer);
  return plain({
    num_rows: meta.num_rows,
    key_value_metadata: Object.fromEntries((meta.key_value_metadata ?? []).map(kv => [kv.key, kv.value])),
    row_groups: meta.row_groups.map(group => ({
      num_rows: group.num_rows,
      sorting_columns: group.sorting_columns ?? null,
      columns: group.columns.map((chunk, i) => {
        const c = chunk.meta_data;
        const out = {
          path: c.path_in_schema.join('.'),
          type: c.type,
          encodings: c.encodings,
          codec: c.codec,
          num_values: c.num_values,
          statistics: c.statistics ?? null,
          column_index: null,
          offset_index: null,
        };
        if (chunk.column_index_offset !== undefined) {
          const at = Number(chunk.column_index_offset);
          out.column_index = readColumnIndex({ view, offset: at }, leaves[i]);
        }
        if (chunk.offset_index_offset !== undefined) {
          const at = Number(chunk.offset_index_offset);
          out.offset_index = readOffsetIndex({ view, offset: at });
        }
        return out;
      }),
    })),
  });
}

if (process.argv[2] === '--sql') {
  // node read.mjs --sql QUERY  ->  {"rows": [...]} as DuckDB answers it.
  const instance = await DuckDBInstance.create(':memory:');
  const connection = await instance.connect();
  const reader = await connection.runAndReadAll(process.argv[3]);
  process.stdout.write(JSON.stringify({ rows: reader.getRowObjectsJS().map(plain) }));
  process.exit(0);
}
const result = {};
for (const file of process.argv.slice(2)) {
  const bytes = new Uint8Array(readFileSync(file));
  const buffer = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
  result[file] = {
    duckdb: await withDuckdb(file),
    hyparquet: await withHyparquet(buffer),
    arrow: withArrow(bytes),
    metadata: footer(buffer),
  };
}
process.stdout.write(JSON.stringify(result));
