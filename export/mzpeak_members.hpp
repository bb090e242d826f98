// What the mzPeak writer's parts share: the archive's members, the
// index file made of them, and the ZIP that holds them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <velmoran/export/convert.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/textio/spectrum_id.hpp>

namespace velmoran::exporting {

// A file of the archive, written out: under its name in the unpacked
// archive's directory, or into a scratch file that a ZIP is copied from.
struct Member {
  std::string name;
  std::string entity_type;
  std::string data_kind;
  std::uint64_t size = 0;
  // The scratch file (OutputFile::scratch) that holds its bytes, if any.
  const OutputFile* bytes = nullptr;
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

// The members (their scratch files) as a ZIP, stored uncompressed (ZIP64
// when needed), written to `output` (not committed); the ZIP's size. The
// members are read from their files and the ZIP goes straight to the
// output, so memory stays small whatever the size; an output that cannot
// seek (a pipe) gets the ZIP in a scratch file first, then copied.
[[nodiscard]] Result<std::uint64_t> write_zip(const std::vector<Member>& members,
                                              OutputFile& output);

}  // namespace velmoran::exporting
