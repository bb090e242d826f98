#include <velmoran/view/run_api.hpp>

#include <cmath>
#include <cstdint>
#include <optional>
#include <thread>

#include <velmoran/analysis/thread_count.hpp>
#include <velmoran/inspect/channels.hpp>
#include <velmoran/inspect/run_info.hpp>
#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/inspect/scan_table.hpp>
#include <velmoran/inspect/table.hpp>
#include <velmoran/inspect/targets.hpp>
#include <velmoran/inspect/xic.hpp>
#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/textio/quoted_value.hpp>

#include "spectrum_cache.hpp"
#include "spectrum_json.hpp"

namespace velmoran::view {

namespace {

std::shared_ptr<const std::string> shared_text(std::string text) {
  return std::make_shared<const std::string>(std::move(text));
}

// The text that `write` puts into an output, as a command writes it to a file.
template <class Write>
Result<std::string> rendered(Write&& write) {
  auto out = textio::OutputFile::memory();
  auto written = write(out);
  if (written) written = out.commit();
  if (!written) return written.error();
  return out.take_text();
}

}  // namespace

Reply error_reply(int status, std::string_view message) {
  std::string body = "{\"error\":";
  textio::append_json_string(body, message);
  body += "}\n";
  return {status, shared_text(std::move(body))};
}

std::optional<Reply> take_ms_level(std::string_view value, bool& given, std::uint32_t& level) {
  const auto parsed = textio::parse_whole<std::uint32_t>(value);
  if (given || !parsed) {
    return error_reply(400, "ms_level: one whole number, not " + textio::quoted_value(value));
  }
  given = true;
  level = *parsed;
  return std::nullopt;
}

RunApi::RunApi(Reader reader, std::size_t cache_bytes,
               std::shared_ptr<inspect::MapBudget> map_budget)
    : reader_(std::move(reader)),
      cache_(std::make_unique<SpectrumCache>(cache_bytes)),
      map_(map_budget ? std::make_unique<inspect::RunMap>(reader_, std::move(map_budget))
                      : std::make_unique<inspect::RunMap>(reader_)) {}

RunApi::~RunApi() { map_->stop(); }

Result<std::unique_ptr<RunApi>> RunApi::load(Reader reader, std::size_t cache_bytes,
                                             std::shared_ptr<const mrm::TransitionList> transitions,
                                             std::shared_ptr<inspect::MapBudget> map_budget) {
  std::unique_ptr<RunApi> api(new RunApi(std::move(reader), cache_bytes, std::move(map_budget)));
  inspect::RunInfo info = inspect::run_info(api->reader_);
  if (transitions) info.channels = inspect::channel_summaries(api->reader_.scans(), &*transitions);
  api->run_json_ = shared_text(inspect::info_json(info));
  const auto channels = mrm::channel_chromatograms(api->reader_, analysis::default_threads());
  auto chromatograms = rendered([&](textio::OutputFile& out) {
    return inspect::write_channel_chromatograms(channels, transitions.get(),
                                                inspect::TextFormat::json, out);
  });
  if (!chromatograms) return chromatograms.error();
  api->chromatograms_json_ = shared_text(std::move(chromatograms).value());
  auto scans = rendered([&](textio::OutputFile& out) {
    return inspect::write_scan_table(api->reader_, inspect::TextFormat::json, out);
  });
  if (!scans) return scans.error();
  api->scans_json_ = shared_text(std::move(scans).value());
  return api;
}

Reply RunApi::spectrum(std::string_view index_text) const {
  const bool digits =
      !index_text.empty() && index_text.find_first_not_of("0123456789") == std::string_view::npos;
  if (!digits) return error_reply(400, "not a scan index: " + textio::quoted_value(index_text));
  const auto index = textio::parse_whole<std::uint64_t>(index_text);
  const std::size_t count = reader_.scans().records.size();
  // Too many digits for 64 bits is past the end as well.
  if (!index || *index >= count) {
    return error_reply(404, "no scan " + textio::quoted_value(index_text) + ": the run has " +
                                std::to_string(count) + " scans");
  }
  const auto position = static_cast<std::size_t>(*index);
  if (auto kept = cache_->find(position)) return {200, std::move(kept)};
  const ScanSpectrum spectrum = reader_.read_spectrum(position);
  // A scan whose blocks cannot be read (a file truncated or replaced since
  // the start) is not an empty spectrum: its error, never kept.
  if (spectrum.error) {
    return {500, shared_text(unreadable_spectrum_json(reader_, position, *spectrum.error))};
  }
  auto text = shared_text(spectrum_json(reader_, spectrum.record));
  cache_->insert(position, text);
  return {200, std::move(text)};
}

Reply RunApi::xic(const QueryParams& params) const {
  inspect::XicQuery query;
  std::optional<double> ppm;
  std::optional<double> da;
  bool level_given = false;
  for (const auto& [name, value] : params) {
    if (name == "mz") {
      const auto mz = inspect::parse_mz(value);
      if (!mz)
        return error_reply(400,
                           "mz: not an m/z (a positive number): " + textio::quoted_value(value));
      if (query.targets.size() == kMaxXicTargets) {
        return error_reply(
            400, "mz: at most " + std::to_string(kMaxXicTargets) + " m/z values in one request");
      }
      query.targets.push_back({value, *mz});
    } else if (name == "ppm") {
      if (ppm) return error_reply(400, "ppm: given twice");
      ppm = inspect::parse_ppm(value);
      if (!ppm) {
        return error_reply(400, "ppm: not a tolerance in ppm (a number above 0, at most 1e6): " +
                                    textio::quoted_value(value));
      }
    } else if (name == "da") {
      if (da) return error_reply(400, "da: given twice");
      da = inspect::parse_da(value);
      if (!da) {
        return error_reply(400, "da: not a tolerance in m/z units (a positive finite number): " +
                                    textio::quoted_value(value));
      }
    } else if (name == "ms_level") {
      if (auto error = take_ms_level(value, level_given, query.ms_level)) return *error;
    } else if (name != "token") {
      return error_reply(
          400, "unknown parameter " + textio::quoted_value(name) + " (mz, ppm, da, ms_level)");
    }
  }
  if (query.targets.empty()) return error_reply(400, "mz: give at least one m/z");
  // One tolerance, as the command's --ppm and --da exclude each other.
  if (ppm && da) return error_reply(400, "ppm, da: give one tolerance, not both");
  if (!ppm && !da) return error_reply(400, "ppm, da: give the tolerance in ppm or in Da");
  query.unit = ppm ? inspect::ToleranceUnit::ppm : inspect::ToleranceUnit::da;
  query.tolerance = ppm ? *ppm : *da;
  if (auto windows = inspect::xic_windows(query); !windows) {
    return error_reply(400, std::string(ppm ? "ppm: " : "da: ") + windows.error().detail());
  }
  auto text = rendered([&](textio::OutputFile& out) {
    return inspect::write_xic(reader_, query, inspect::TextFormat::json, out);
  });
  if (!text) return error_reply(500, text.error().text());
  return {200, shared_text(std::move(text).value())};
}

}  // namespace velmoran::view
