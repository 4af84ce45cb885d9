// orlim-fleet's record reader against general JSON libraries, line by line
// over a collection as orlim-decode --json writes it: the reader itself
// (simdjson's DOM parser, every line validated whole), rapidjson's DOM and
// simdjson's On Demand reader (which validates values it passes over only
// loosely), each taking out the fields a record keeps (label, time, uuid,
// legacy, warnings; input and error for an error record). Prints the best
// of RUNS passes for each, in ns per line.
//   record_reader_bench FILE [RUNS]
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/uuid.h"
#include "fleet/fleet_record.h"

namespace {

std::size_t sink = 0;  // keeps the readers' work observable

template <typename F>
double bestNsPerLine(const std::vector<std::string>& lines, int runs, F read) {
  double best = 1e18;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t good = 0;
    for (const std::string& line : lines) good += read(line) ? 1u : 0u;
    const auto end = std::chrono::steady_clock::now();
    if (good != lines.size()) std::fprintf(stderr, "only %zu of %zu lines read\n", good, lines.size());
    best = std::min(best, std::chrono::duration<double, std::nano>(end - start).count() /
                              static_cast<double>(lines.size()));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  std::ifstream in(argv[1]);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);

  fleet::ParsedRecord parsed;
  std::string scratch;
  fleet::RecordError error;
  const double reader = bestNsPerLine(lines, runs, [&](const std::string& line) {
    return fleet::parseRecord(line, parsed, scratch, error);
  });

  rapidjson::Document doc;
  const double rapid = bestNsPerLine(lines, runs, [&](const std::string& line) {
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(line.data(), line.size());
    if (doc.HasParseError() || !doc.IsObject()) return false;
    // HasMember, not FindMember: clang in C++20 mode finds rapidjson's
    // iterator comparison ambiguous.
    if (doc.HasMember("label")) sink += doc["label"].GetStringLength();
    if (doc.HasMember("error")) {
      sink += doc["error"].GetStringLength() + doc["input"].GetStringLength();
      return true;
    }
    sink += doc["time"].GetUint();
    fleet::Uuid uuid;
    const auto& u = doc["uuid"];
    if (!parseUuidText({u.GetString(), u.GetStringLength()}, uuid)) return false;
    sink += uuid[0] + doc["legacy"].GetStringLength() + doc["machine"].GetStringLength();
    for (const auto& w : doc["warnings"].GetArray()) sink += w.GetStringLength();
    return true;
  });

  simdjson::ondemand::parser parser;
  std::vector<simdjson::padded_string> padded;
  padded.reserve(lines.size());
  for (const std::string& line : lines) padded.emplace_back(line);
  std::size_t at = 0;
  const double simd = bestNsPerLine(lines, runs, [&](const std::string&) {
    const simdjson::padded_string& line = padded[at++ % padded.size()];
    simdjson::ondemand::document d;
    if (parser.iterate(line).get(d) != simdjson::SUCCESS) return false;
    simdjson::ondemand::object o;
    if (d.get_object().get(o) != simdjson::SUCCESS) return false;
    // Members in any order, as a record may be written.
    bool ok = true;
    for (auto field : o) {
      std::string_view key;
      if (field.unescaped_key().get(key) != simdjson::SUCCESS) return false;
      auto value = field.value();
      std::string_view text;
      if (key == "label" || key == "legacy" || key == "machine" || key == "input" || key == "error" ||
          key == "token" || key == "time_utc") {
        ok = ok && value.get_string().get(text) == simdjson::SUCCESS;
        sink += text.size();
      } else if (key == "uuid") {
        fleet::Uuid uuid;
        ok = ok && value.get_string().get(text) == simdjson::SUCCESS && parseUuidText(text, uuid);
        sink += uuid[0];
      } else if (key == "time" || key == "version" || key == "line" || key == "argument") {
        std::uint64_t n = 0;
        ok = ok && value.get_uint64().get(n) == simdjson::SUCCESS;
        sink += n;
      } else if (key == "warnings") {
        simdjson::ondemand::array a;
        ok = ok && value.get_array().get(a) == simdjson::SUCCESS;
        if (ok)
          for (auto w : a) {
            ok = ok && w.get_string().get(text) == simdjson::SUCCESS;
            sink += text.size();
          }
      }  // any other value is passed over by the iteration
    }
    return ok;
  });
  std::printf("%zu lines: orlim-fleet's reader %.0f ns, rapidjson %.0f ns, "
              "simdjson On Demand %.0f ns per line (%zu)\n",
              lines.size(), reader, rapid, simd, sink % 10);
  return 0;
}
