// What the mzPeak writer's parts share: the archive's members, the
// index file made of them, and the ZIP that holds them.
#pragma once

#include <string>
#include <vector>

#include <velmoran/export/convert.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/textio/spectrum_id.hpp>

namespace velmoran::exporting {

// A file of the archive, its bytes in memory.
struct Member {
  std::string name;
  std::string entity_type;
  std::string data_kind;
  std::string bytes;
};

// What the index file says of the run besides its members.
struct IndexFacts {
  std::string software_version;
  std::string run_name;
  bool has_ms1 = false;
  bool has_msn = false;
  bool peak_picking = false;
  textio::IdForm ids{};
};

// mzpeak_index.json: the members (every one but the index itself) and the
// file-level metadata.
[[nodiscard]] std::string index_json(const std::vector<Member>& members, const IndexFacts& facts);

// The members as a ZIP, stored uncompressed (ZIP64 when needed), written
// to `output` (not committed).
[[nodiscard]] Result<textio::Done> write_zip(const std::vector<Member>& members,
                                             OutputFile& output);

}  // namespace velmoran::exporting
