// The fleet page's writer on its own (the page in a browser:
// html_browser_test.py): written in blocks it is the page written whole, a
// registry without collections still makes a whole page, and a list cut
// short says how many are left and how to get them.

#include <gtest/gtest.h>

#include <string>

#include "fleet/fleet_html.h"

namespace {

fleet::HtmlReport someReport(std::size_t labels) {
  fleet::HtmlReport r;
  r.registry = "fleet.registry";
  r.madeAt = 1796861430;
  for (int i = 0; i < 3; ++i) {
    fleet::HtmlCollection c;
    c.name = "year-" + std::to_string(i + 1);
    c.time = 1733000000u + static_cast<std::uint32_t>(i) * 31536000u;
    c.counts[0] = 1000;
    c.counts[static_cast<std::size_t>(fleet::Status::kCardChanged)] = static_cast<std::size_t>(i);
    r.collections.push_back(c);
  }
  for (std::size_t i = 0; i < labels; ++i) {
    fleet::HtmlLabel l;
    l.label = "host-" + std::to_string(i) + std::string(1000, 'x');  // a page past one block
    l.status = i % 2 == 0 ? fleet::Status::kCardChanged : fleet::Status::kFailed;
    l.history.assign(3, fleet::HtmlCell{true, fleet::Status::kSame, std::string(45, 'm')});
    r.needsLook.push_back(l);
  }
  r.needsLookTotal = labels + 7;
  r.fullListCommand = "orlim-fleet --registry fleet.registry report --json";
  return r;
}

std::string whole(const fleet::HtmlReport& r) {
  fleet::Output out;
  fleet::renderHtml(r, out);
  return out.text;
}

TEST(FleetHtml, WrittenInBlocksAsWhole) {
  const fleet::HtmlReport r = someReport(fleet::kHtmlMaxListed);
  struct Sink {
    std::string text;
    std::size_t flushes = 0;
    std::size_t largest = 0;
  } sink;
  fleet::Output out;
  out.context = &sink;
  out.flush = [](fleet::Output& o) {
    auto* s = static_cast<Sink*>(o.context);
    s->text += o.text;
    s->largest = std::max(s->largest, o.text.size());
    ++s->flushes;
    o.text.clear();
  };
  fleet::renderHtml(r, out);
  EXPECT_TRUE(out.text.empty());
  EXPECT_EQ(sink.text, whole(r));
  // A block is about kOutputBlock: a label's line more at most.
  EXPECT_GT(sink.flushes, 1u);
  EXPECT_LT(sink.largest, fleet::kOutputBlock + 4096);
}

TEST(FleetHtml, NoCollectionsStillAPage) {
  fleet::HtmlReport r;
  r.registry = "empty.registry";
  const std::string page = whole(r);
  EXPECT_NE(page.find("No collection has been recorded."), std::string::npos);
  EXPECT_EQ(page.find("id='needs-look'"), std::string::npos);
  EXPECT_TRUE(page.ends_with("</html>\n"));
}

TEST(FleetHtml, ListCutShortSaysTheRest) {
  const std::string page = whole(someReport(3));
  EXPECT_NE(page.find("<span id='not-listed' data-count='7'>7 more</span>"), std::string::npos);
  EXPECT_NE(page.find("<code>orlim-fleet --registry fleet.registry report --json</code>"),
            std::string::npos);
  const std::string all = whole([] {
    fleet::HtmlReport r = someReport(3);
    r.needsLookTotal = 3;
    return r;
  }());
  EXPECT_EQ(all.find("not-listed"), std::string::npos);
}

}  // namespace
