// Writes the fleet page for a fixed registry view, for the browser test: a
// few collections, labels of every verdict, and labels that try to be
// markup, a script's end, a bidi override and a terminal sequence.
// Prints the figures the page must show as one JSON object, its strings as
// the tools show them (report's text form).
//   test_html_fixture OUT.html
//   test_html_fixture --large LABELS OUT.html   (four collections, for timing)

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fleet/fleet_html.h"
#include "report/escape.h"
#include "report/json_writer.h"

namespace {

using fleet::HtmlCell;
using fleet::HtmlLabel;
using fleet::Status;

std::string machine(unsigned n) {
  char text[64];
  std::snprintf(text, sizeof text, "4c4c4544-0042-3510-8052-%012x/%08X", n, n * 2654435761u);
  return text;
}

void flushTo(fleet::Output& out) {
  std::FILE* file = static_cast<std::FILE*>(out.context);
  std::fwrite(out.text.data(), 1, out.text.size(), file);
  out.text.clear();
}

HtmlLabel label(std::string name, Status now, unsigned m, std::size_t collections) {
  HtmlLabel l;
  l.label = std::move(name);
  l.status = now;
  for (std::size_t i = 0; i < collections; ++i)
    l.history.push_back(HtmlCell{true, i == collections - 1 ? now : Status::kSame, machine(m)});
  return l;
}

fleet::HtmlReport small() {
  fleet::HtmlReport r;
  r.registry = "fleet<b>.sqlite";
  r.madeAt = 1796861430;
  const char* names[] = {"2024-renewal", "2025-renewal", "2026<i>renewal</i>"};
  for (std::size_t i = 0; i < 3; ++i) {
    fleet::HtmlCollection c;
    c.name = names[i];
    c.time = 1733000000u + static_cast<std::uint32_t>(i) * 31536000u;
    for (std::size_t s = 0; s < fleet::kStatusCount; ++s) c.counts[s] = (s * 7 + i * 3) % 11;
    c.counts[0] = 900 + i * 40;
    r.collections.push_back(c);
  }
  r.needsLook.push_back(label("web-01", Status::kCardChanged, 1, 3));
  r.needsLook.back().history[2].machine = machine(101);
  r.needsLook.push_back(label("<img src=x onerror=\"document.title='pwned'\">", Status::kFailed,
                              2, 3));
  r.needsLook.back().history[2].machine.clear();
  r.needsLook.push_back(label("</script><script>document.title='pwned'</script>",
                              Status::kReplaced, 3, 3));
  r.needsLook.back().sharedWith = {"db-\xe2\x80\xae" "evil", "web-01"};
  r.needsLook.back().sharedMore = 4;
  r.needsLook.push_back(label("db-\xe2\x80\xae" "evil\x1b[31m", Status::kUuidChanged, 4, 3));
  r.needsLook.back().movedFrom = "old-db";
  r.needsLook.back().history[0].listed = false;
  r.needsLook.back().warnings = {"shared-uuid"};
  r.needsLookTotal = 1200;  // more than listed: the page says how many are not
  r.fullListCommand = "orlim-fleet --registry 'fleet<b>.sqlite' export --json";
  return r;
}

fleet::HtmlReport large(std::size_t labels) {
  fleet::HtmlReport r;
  r.registry = "large.sqlite";
  r.madeAt = 1796861430;
  for (std::size_t i = 0; i < 4; ++i) {
    fleet::HtmlCollection c;
    c.name = "collection-" + std::to_string(2023 + i);
    c.time = 1700000000u + static_cast<std::uint32_t>(i) * 31536000u;
    c.counts[static_cast<std::size_t>(Status::kCardChanged)] = labels / 200;
    c.counts[static_cast<std::size_t>(Status::kNew)] = labels / 100;
    c.counts[static_cast<std::size_t>(Status::kFailed)] = labels / 500;
    c.counts[0] = labels - labels / 200 - labels / 100 - labels / 500;
    r.collections.push_back(c);
  }
  r.needsLookTotal = labels / 200 + labels / 500;
  for (std::size_t i = 0; i < fleet::kHtmlMaxListed && i < r.needsLookTotal; ++i)
    r.needsLook.push_back(label("host-" + std::to_string(i) + ".example.com",
                                i % 3 == 0 ? Status::kFailed : Status::kCardChanged,
                                static_cast<unsigned>(i), 4));
  r.fullListCommand = "orlim-fleet --registry large.sqlite export --json";
  return r;
}

void printFigures(const fleet::HtmlReport& r) {
  report::JsonWriter w;
  report::jsonBeginObject(w);
  report::jsonKey(w, "registry");
  report::jsonString(w, report::escapeText(r.registry));
  report::jsonKey(w, "collections");
  report::jsonBeginArray(w);
  for (const fleet::HtmlCollection& c : r.collections) {
    report::jsonBeginObject(w);
    report::jsonKey(w, "name");
    report::jsonString(w, report::escapeText(c.name));
    for (std::size_t s = 0; s < fleet::kStatusCount; ++s) {
      report::jsonKey(w, fleet::statusName(static_cast<Status>(s)));
      report::jsonInt(w, static_cast<std::int64_t>(c.counts[s]));
    }
    report::jsonEndObject(w);
  }
  report::jsonEndArray(w);
  report::jsonKey(w, "needs_look");
  report::jsonInt(w, static_cast<std::int64_t>(r.needsLookTotal));
  report::jsonKey(w, "listed");
  report::jsonBeginArray(w);
  std::int64_t matches = 0;
  for (const HtmlLabel& l : r.needsLook) {
    report::jsonString(w, report::escapeText(l.label));
    matches += l.label.find("web-0") != std::string::npos;
  }
  report::jsonEndArray(w);
  // What the page's filter box leaves for "web-0".
  report::jsonKey(w, "filter_matches");
  report::jsonInt(w, matches);
  report::jsonEndObject(w);
  std::puts(w.out.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const bool isLarge = argc == 4 && std::string_view(argv[1]) == "--large";
  if (argc != 2 && !isLarge) {
    std::fputs("usage: test_html_fixture [--large LABELS] OUT.html\n", stderr);
    return 2;
  }
  const fleet::HtmlReport r = isLarge ? large(std::strtoull(argv[2], nullptr, 10)) : small();
  std::FILE* file = std::fopen(argv[argc - 1], "w");
  if (file == nullptr) return 1;
  fleet::Output out;
  out.flush = flushTo;
  out.context = file;
  fleet::renderHtml(r, out);
  if (std::fclose(file) != 0) return 1;
  printFigures(r);
  return 0;
}
