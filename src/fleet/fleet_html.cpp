#include "fleet/fleet_html.h"

#include <algorithm>
#include <cstdio>

#include "report/escape.h"
#include "report/utc_text.h"

namespace fleet {
namespace {

// How a verdict is drawn: a colour from a palette colour-blind readers tell
// apart, and a pattern over it that tells them apart in black and white.
struct VerdictStyle {
  const char* colour;
  const char* pattern;  // SVG drawn over the colour in a 6x6 tile
};
constexpr std::array<VerdictStyle, 9> kStyles = {{
    {"#d9d9d9", ""},  // same: plain, the bulk of any fleet
    {"#56b4e9", "<circle cx='3' cy='3' r='1.3' fill='#000'/>"},
    {"#8c8c8c", "<path d='M0 1.5h6M0 4.5h6' stroke='#000' stroke-width='1'/>"},
    {"#e69f00", "<path d='M-1 1l2-2M0 6l6-6M5 7l2-2' stroke='#000' stroke-width='1'/>"},
    {"#d55e00", "<path d='M-1 5l2 2M0 0l6 6M5 -1l2 2' stroke='#000' stroke-width='1'/>"},
    {"#f0e442", "<path d='M1.5 0v6M4.5 0v6' stroke='#000' stroke-width='1'/>"},
    {"#cc79a7", "<path d='M0 3h6M3 0v6' stroke='#000' stroke-width='1'/>"},
    {"#ffffff", "<path d='M0 0l6 6M6 0l-6 6' stroke='#000' stroke-width='1.2'/>"},
    {"#009e73", "<rect width='3' height='3' fill='#000'/><rect x='3' y='3' width='3' "
                "height='3' fill='#000'/>"},
}};
static_assert(kStatusCount <= kStyles.size(), "every verdict needs a style");

// Filters the "needs a look" list by label; without scripts the box stays
// hidden and the whole list shows. Its hash is in the page's policy, so no
// other script can run there: change one, change the other.
constexpr std::string_view kScript =
    "(function(){var f=document.getElementById('filter');if(!f)return;f.hidden=false;"
    "var q=f.querySelector('input'),n=document.getElementById('shown'),"
    "items=document.querySelectorAll('li.label');"
    "q.addEventListener('input',function(){var t=q.value.toLowerCase(),k=0;"
    "for(var i=0;i<items.length;i++){var hit=items[i].getAttribute('data-label')"
    ".toLowerCase().indexOf(t)>=0;items[i].hidden=!hit;if(hit)k++;}"
    "n.textContent=t===''?'':k+' shown';});})();";
constexpr std::string_view kScriptHash = "sha256-Az6LqYdsLU8Jj3cYSuR4UVvUlGtK6OuBfVzHR3MEZZs=";

constexpr std::string_view kStyle =
    "body{font:15px/1.4 system-ui,sans-serif;margin:1.5em auto;max-width:72em;padding:0 1em;"
    "color:#111;background:#fff;overflow-wrap:anywhere}"
    "h1{font-size:1.4em}h2{font-size:1.2em;margin-top:1.6em}h3{font-size:1em}"
    "svg{max-width:100%;height:auto}"
    // On a phone a chart keeps a readable size and scrolls sideways alone.
    ".chart svg{min-width:640px}"
    "table{border-collapse:collapse;margin:.6em 0;overflow-wrap:normal;font-size:.85em}"
    "th,td{border:1px solid #999;padding:.2em .4em;text-align:right}td{white-space:nowrap}"
    "th:first-child{text-align:left}"
    ".key{display:inline-block;width:1.4em;height:.9em;border:1px solid #000;"
    "vertical-align:middle;margin-right:.3em}"
    ".legend span{margin-right:1em;white-space:nowrap}"
    ".scroll{overflow-x:auto}"
    "ul.labels{list-style:none;padding:0}"
    "li.label{border-top:1px solid #ccc;padding:.4em 0;overflow-wrap:anywhere}"
    "li.label .name{font-weight:bold}"
    "code,bdi{font-family:ui-monospace,monospace;unicode-bidi:isolate}"
    ".hist{display:block;font-size:.9em}"
    "mark{background:#ffe08a;outline:1px solid #000}"
    ".note{color:#333}";

constexpr double kChartWidth = 900;
constexpr double kBarLeft = 190;
constexpr double kBarWidth = 690;
constexpr double kRowHeight = 62;
// The numbers under a bar go on to a second line past this many characters.
constexpr std::size_t kNumbersLine = 100;
constexpr double kBarHeight = 22;

void flushIfFull(Output& out) {
  if (out.flush != nullptr && out.text.size() >= kOutputBlock) out.flush(out);
}

void put(Output& out, std::string_view text) { out.text += text; }

void putEscaped(Output& out, std::string_view text) { report::appendHtmlEscaped(out.text, text); }

void putNumber(Output& out, std::size_t n) { out.text += std::to_string(n); }

void putCoordinate(Output& out, double value) {
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%.1f", value);
  out.text.append(text, static_cast<std::size_t>(n));
}

void putUtc(Output& out, std::uint32_t seconds) {
  char text[report::kUtcTextSize];
  report::writeUtc(text, seconds);
  out.text.append(text, sizeof text);
}

std::size_t total(const HtmlCollection& c, bool withSame) {
  std::size_t sum = 0;
  for (std::size_t s = withSame ? 0 : 1; s < kStatusCount; ++s) sum += c.counts[s];
  return sum;
}

void putPatterns(Output& out) {
  put(out, "<svg width='0' height='0' style='position:absolute' aria-hidden='true'><defs>");
  for (std::size_t s = 0; s < kStatusCount; ++s) {
    put(out, "<pattern id='v");
    putNumber(out, s);
    put(out, "' patternUnits='userSpaceOnUse' width='6' height='6'><rect width='6' height='6' "
             "fill='");
    put(out, kStyles[s].colour);
    put(out, "'/>");
    put(out, kStyles[s].pattern);
    put(out, "</pattern>");
  }
  put(out, "</defs></svg>\n");
}

void putSwatch(Output& out, std::size_t s) {
  put(out, "<svg class='key' viewBox='0 0 14 9' aria-hidden='true'><rect width='14' height='9' "
           "fill='url(#v");
  putNumber(out, s);
  put(out, ")'/></svg>");
}

// A verdict as the legend, the table and the list's headings show it: its
// swatch, then its name (the cue that needs neither colour nor pattern).
void putVerdictKey(Output& out, std::size_t s) {
  putSwatch(out, s);
  put(out, statusName(static_cast<Status>(s)));
}

void putLegend(Output& out) {
  put(out, "<p class='legend'>");
  for (std::size_t s = 0; s < kStatusCount; ++s) {
    put(out, "<span>");
    putVerdictKey(out, s);
    put(out, "</span> ");
  }
  put(out, "</p>\n");
}

// One stacked bar per collection, scaled to the largest; the numbers in the
// segments wide enough for them and all of them in a line under the bar.
void putChart(Output& out, const HtmlReport& r, bool withSame, std::string_view title) {
  std::size_t largest = 0;
  for (const HtmlCollection& c : r.collections) largest = std::max(largest, total(c, withSame));
  const double height = kRowHeight * static_cast<double>(r.collections.size()) + 8;
  put(out, "<div class='scroll chart'><svg viewBox='0 0 ");
  putCoordinate(out, kChartWidth);
  put(out, " ");
  putCoordinate(out, height);
  put(out, "' width='");
  putCoordinate(out, kChartWidth);
  put(out, "' role='img' aria-label='");
  putEscaped(out, title);
  put(out, "' font-size='12'>\n");
  double y = 4;
  for (const HtmlCollection& c : r.collections) {
    put(out, "<g><text x='0' y='");
    putCoordinate(out, y + 15);
    put(out, "'>");
    const std::size_t shortName = 26;
    putEscaped(out, c.name.size() > shortName ? c.name.substr(0, shortName) + "..." : c.name);
    put(out, "</text>");
    double x = kBarLeft;
    const std::size_t sum = total(c, withSame);
    for (std::size_t s = withSame ? 0 : 1; s < kStatusCount && largest != 0; ++s) {
      const std::size_t n = c.counts[s];
      if (n == 0) continue;
      const double w = kBarWidth * static_cast<double>(n) / static_cast<double>(largest);
      put(out, "<rect x='");
      putCoordinate(out, x);
      put(out, "' y='");
      putCoordinate(out, y);
      put(out, "' width='");
      putCoordinate(out, w);
      put(out, "' height='");
      putCoordinate(out, kBarHeight);
      put(out, "' fill='url(#v");
      putNumber(out, s);
      put(out, ")' stroke='#000' stroke-width='.5'><title>");
      putEscaped(out, c.name);
      put(out, ": ");
      put(out, statusName(static_cast<Status>(s)));
      put(out, " ");
      putNumber(out, n);
      put(out, "</title></rect>");
      const std::string digits = std::to_string(n);
      if (w >= 7.5 * static_cast<double>(digits.size()) + 8) {
        put(out, "<text x='");
        putCoordinate(out, x + w / 2);
        put(out, "' y='");
        putCoordinate(out, y + 15);
        put(out, "' text-anchor='middle' stroke='#fff' stroke-width='3' paint-order='stroke'>");
        put(out, digits);
        put(out, "</text>");
      }
      x += w;
    }
    put(out, "<text x='");
    putCoordinate(out, kBarLeft);
    put(out, "' y='");
    putCoordinate(out, y + kBarHeight + 15);
    put(out, "' fill='#333'>");
    if (sum == 0) put(out, "none");
    const char* separator = "";
    std::size_t line = 0;  // characters on this line so far
    for (std::size_t s = withSame ? 0 : 1; s < kStatusCount; ++s) {
      if (c.counts[s] == 0) continue;
      const std::string item =
          std::string(statusName(static_cast<Status>(s))) + " " + std::to_string(c.counts[s]);
      if (line != 0 && line + 3 + item.size() > kNumbersLine) {
        put(out, "<tspan x='");
        putCoordinate(out, kBarLeft);
        put(out, "' dy='14'>");
        put(out, item);
        put(out, "</tspan>");
        line = item.size();
      } else {
        put(out, separator);
        put(out, item);
        line += (line != 0 ? 3 : 0) + item.size();
      }
      separator = " \xc2\xb7 ";
    }
    put(out, "</text></g>\n");
    y += kRowHeight;
  }
  put(out, "</svg></div>\n");
}

void putCountTable(Output& out, const HtmlReport& r) {
  put(out, "<div class='scroll'><table id='counts'><thead><tr><th>collection</th><th>recorded</th>");
  for (std::size_t s = 0; s < kStatusCount; ++s) {
    put(out, "<th>");
    putVerdictKey(out, s);
    put(out, "</th>");
  }
  put(out, "</tr></thead><tbody>\n");
  for (std::size_t i = 0; i < r.collections.size(); ++i) {
    const HtmlCollection& c = r.collections[i];
    put(out, "<tr data-collection='");
    putEscaped(out, c.name);
    put(out, "'><th><bdi>");
    putEscaped(out, c.name);
    put(out, "</bdi></th><td>");
    putUtc(out, c.time);
    put(out, "</td>");
    for (std::size_t s = 0; s < kStatusCount; ++s) {
      put(out, "<td data-verdict='");
      put(out, statusName(static_cast<Status>(s)));
      put(out, "'>");
      putNumber(out, c.counts[s]);
      put(out, "</td>");
    }
    put(out, "</tr>\n");
    flushIfFull(out);
  }
  put(out, "</tbody></table></div>\n");
}

void putLabelList(Output& out, std::string_view what, const std::vector<std::string>& labels,
                  std::size_t more) {
  put(out, " <span class='note'>");
  put(out, what);
  put(out, "</span> ");
  const char* separator = "";
  for (const std::string& label : labels) {
    put(out, separator);
    put(out, "<code>");
    putEscaped(out, label);
    put(out, "</code>");
    separator = ", ";
  }
  if (more != 0) {
    put(out, " and ");
    putNumber(out, more);
    put(out, " others");
  }
}

// A label's machine per collection, oldest first; a collection where its
// verdict was a change is marked, with that verdict in words, so the change
// reads without colour.
void putHistory(Output& out, const HtmlReport& r, const HtmlLabel& l) {
  put(out, "<span class='hist'>");
  for (std::size_t i = 0; i < l.history.size() && i < r.collections.size(); ++i) {
    const HtmlCell& cell = l.history[i];
    if (i != 0) put(out, " \xe2\x86\x92 ");
    // Its first appearance is no change; anything else but same is.
    const bool changed =
        cell.listed && cell.status != Status::kSame && cell.status != Status::kNew;
    put(out, changed ? "<mark>" : "<span>");
    putEscaped(out, r.collections[i].name);
    put(out, ": ");
    if (!cell.listed) {
      put(out, "not listed");
    } else {
      if (!cell.machine.empty()) {
        put(out, "<code>");
        putEscaped(out, cell.machine);
        put(out, "</code>");
      }
      if (changed) {
        put(out, " [");
        put(out, statusName(cell.status));
        put(out, "]");
      }
    }
    put(out, changed ? "</mark>" : "</span>");
  }
  put(out, "</span>");
}

void putLabel(Output& out, const HtmlReport& r, const HtmlLabel& l) {
  put(out, "<li class='label' data-label='");
  putEscaped(out, l.label);
  put(out, "'><bdi class='name'>");
  putEscaped(out, l.label);
  put(out, "</bdi>");
  if (!l.warnings.empty()) {
    put(out, " <span class='note'>warnings:</span> ");
    const char* separator = "";
    for (const std::string& w : l.warnings) {
      put(out, separator);
      putEscaped(out, w);
      separator = ", ";
    }
  }
  if (!l.movedFrom.empty()) putLabelList(out, "moved from", {l.movedFrom}, 0);
  if (!l.movedTo.empty()) putLabelList(out, "moved to", {l.movedTo}, 0);
  if (!l.sharedWith.empty() || l.sharedMore != 0)
    putLabelList(out, "shares its identity with", l.sharedWith, l.sharedMore);
  putHistory(out, r, l);
  put(out, "</li>\n");
}

void putNeedsLook(Output& out, const HtmlReport& r) {
  put(out, "<h2 id='needs-look'>Needs a look");
  if (!r.collections.empty()) {
    put(out, " in <bdi>");
    putEscaped(out, r.collections.back().name);
    put(out, "</bdi>");
  }
  put(out, "</h2>\n<p id='needs-look-count' data-count='");
  putNumber(out, r.needsLookTotal);
  put(out, "'>");
  putNumber(out, r.needsLookTotal);
  put(out, r.needsLookTotal == 1 ? " label needs" : " labels need");
  put(out, " a look (a change, a failure, a shared identity or a warning).");
  const std::size_t listed = std::min(r.needsLook.size(), r.needsLookTotal);
  if (listed < r.needsLookTotal) {
    put(out, " The first ");
    putNumber(out, listed);
    put(out, " are listed; <span id='not-listed' data-count='");
    putNumber(out, r.needsLookTotal - listed);
    put(out, "'>");
    putNumber(out, r.needsLookTotal - listed);
    put(out, " more</span> are not. All of them: <code>");
    putEscaped(out, r.fullListCommand);
    put(out, "</code>");
  }
  put(out, "</p>\n<p id='filter' hidden><label>Filter labels: <input type='search' "
           "autocomplete='off'></label> <span id='shown'></span></p>\n");
  // Worst first: the verdicts are ordered from the calmest to the gravest.
  for (std::size_t s = kStatusCount; s-- != 0;) {
    const Status status = static_cast<Status>(s);
    std::size_t inGroup = 0;
    for (const HtmlLabel& l : r.needsLook) inGroup += l.status == status;
    if (inGroup == 0) continue;
    put(out, "<h3 data-verdict='");
    put(out, statusName(status));
    put(out, "'>");
    putVerdictKey(out, s);
    put(out, " (");
    putNumber(out, inGroup);
    put(out, " listed)</h3>\n<ul class='labels'>\n");
    for (const HtmlLabel& l : r.needsLook) {
      if (l.status != status) continue;
      putLabel(out, r, l);
      flushIfFull(out);
    }
    put(out, "</ul>\n");
  }
}

}  // namespace

void renderHtml(const HtmlReport& r, Output& out) {
  put(out, "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'>\n"
           "<meta http-equiv='Content-Security-Policy' content=\"default-src 'none'; "
           "style-src 'unsafe-inline'; script-src '");
  put(out, kScriptHash);
  put(out, "'; base-uri 'none'; form-action 'none'\">\n"
           "<meta name='viewport' content='width=device-width, initial-scale=1'>\n<title>");
  put(out, "Fleet registry ");
  putEscaped(out, r.registry);
  put(out, "</title>\n<style>");
  put(out, kStyle);
  put(out, "</style></head>\n<body>\n");
  putPatterns(out);
  put(out, "<h1>Fleet registry <bdi>");
  putEscaped(out, r.registry);
  put(out, "</bdi></h1>\n<p id='made'>Made by orlim-fleet at <time>");
  putUtc(out, r.madeAt);
  put(out, "</time> from <span id='collection-count'>");
  putNumber(out, r.collections.size());
  put(out, r.collections.size() == 1 ? "</span> collection" : "</span> collections");
  if (!r.collections.empty()) {
    put(out, ", <bdi>");
    putEscaped(out, r.collections.front().name);
    put(out, "</bdi> (");
    putUtc(out, r.collections.front().time);
    put(out, ") to <bdi>");
    putEscaped(out, r.collections.back().name);
    put(out, "</bdi> (");
    putUtc(out, r.collections.back().time);
    put(out, ")");
  }
  put(out, ".</p>\n");
  if (r.collections.empty()) {
    put(out, "<p>No collection has been recorded.</p>\n");
  } else {
    put(out, "<h2>Verdicts per collection</h2>\n");
    putLegend(out);
    putChart(out, r, true, "Every verdict per collection");
    put(out, "<h2>Changes per collection (all but same)</h2>\n");
    putChart(out, r, false, "Verdicts other than same per collection");
    putCountTable(out, r);
    flushIfFull(out);
    putNeedsLook(out, r);
  }
  put(out, "<script>");
  put(out, kScript);
  put(out, "</script>\n</body></html>\n");
  if (out.flush != nullptr) out.flush(out);
}

}  // namespace fleet
