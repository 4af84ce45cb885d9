// Two collections of one generated fleet, as "LABEL TOKEN" lines sealed the
// way the field tool seals them, with known changes between them, and the
// verdict orlim-fleet must give every label.
//   make_fleet COUNT PERCENT SEED DIR
// writes DIR/old.tokens, DIR/now.tokens and DIR/expected ("LABEL STATUS
// WARNINGS MOVE", one per label: WARNINGS "WARNING,..." or "-", MOVE
// "<LABEL" moved from LABEL, ">LABEL" moved to it, or "-"). Of COUNT
// machines, PERCENT percent (at least one) undergo each change.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/token_seal.h"

namespace {

struct Machine {
  std::string label;
  TokenFields fields;
};

struct Writer {
  std::FILE* old = nullptr;
  std::FILE* now = nullptr;
  std::FILE* expected = nullptr;
};

// Times in 2025 for the last collection, in 2026 before December for this
// one: no time warning either way.
constexpr std::uint32_t kOldTime = 1735689600;
constexpr std::uint32_t kNowTime = 1767225600;
constexpr std::uint32_t kTimeSpread = 28000000;

std::mt19937_64 random_;

TokenFields randomFields(std::uint32_t base) {
  TokenFields f;
  f.version = kTokenRecordVersion;
  f.time = base + static_cast<std::uint32_t>(random_() % kTimeSpread);
  for (auto& b : f.uuid) b = static_cast<std::uint8_t>(random_());
  for (auto& c : f.legacy) c = "0123456789ABCDEF"[random_() % 16];
  return f;
}

void newCard(TokenFields& f) {
  const auto before = f.legacy;
  while (f.legacy == before)
    for (auto& c : f.legacy) c = "0123456789ABCDEF"[random_() % 16];
}

void newUuid(TokenFields& f) {
  for (auto& b : f.uuid) b = static_cast<std::uint8_t>(random_());
}

void byteReverse(TokenFields& f) {
  std::reverse(f.uuid.begin(), f.uuid.begin() + 4);
  std::reverse(f.uuid.begin() + 4, f.uuid.begin() + 6);
  std::reverse(f.uuid.begin() + 6, f.uuid.begin() + 8);
}

void line(std::FILE* out, const std::string& label, const TokenFields& f) {
  std::fprintf(out, "%s %s\n", label.c_str(), orlimtest::sealToken(f).c_str());
}

void expect(Writer& w, const std::string& label, const char* status, const char* warnings = "-",
            const std::string& move = "-") {
  std::fprintf(w.expected, "%s %s %s %s\n", label.c_str(), status, warnings, move.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_fleet COUNT PERCENT SEED DIR\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  const double percent = std::strtod(argv[2], nullptr);
  random_.seed(std::strtoull(argv[3], nullptr, 10));
  const std::string dir = argv[4];
  Writer w;
  w.old = std::fopen((dir + "/old.tokens").c_str(), "w");
  w.now = std::fopen((dir + "/now.tokens").c_str(), "w");
  w.expected = std::fopen((dir + "/expected").c_str(), "w");
  if (w.old == nullptr || w.now == nullptr || w.expected == nullptr) return 1;

  // The changes, in turn over the machines: each machine undergoes at most one.
  enum Change {
    kCardChanged, kUuidByteOrder, kUuidChanged, kReplaced, kCloned, kClonedNewCard,
    kRenamed, kAdded, kRemoved, kFailed, kUnreachable, kListedTwice, kChangeCount,
    kUnchanged = kChangeCount,
  };
  const auto each = std::max<unsigned long>(1, static_cast<unsigned long>(static_cast<double>(count) * percent / 100));
  std::vector<Change> plan(count, kUnchanged);
  for (unsigned long c = 0; c < kChangeCount; ++c)
    for (unsigned long i = 0; i < each && c * each + i < count; ++i) plan[c * each + i] = static_cast<Change>(c);
  std::shuffle(plan.begin(), plan.end(), random_);

  for (unsigned long n = 0; n < count; ++n) {
    Machine m{"host-" + std::to_string(n) + ".example.net", randomFields(kOldTime)};
    TokenFields now = m.fields;
    now.time = kNowTime + static_cast<std::uint32_t>(random_() % kTimeSpread);
    const Change change = plan[n];
    if (change != kAdded) line(w.old, m.label, m.fields);
    switch (change) {
      case kUnchanged:
        line(w.now, m.label, now);
        expect(w, m.label, "same");
        break;
      case kCardChanged:
        newCard(now);
        line(w.now, m.label, now);
        expect(w, m.label, "card-changed");
        break;
      case kUuidByteOrder:
        byteReverse(now);
        line(w.now, m.label, now);
        expect(w, m.label, now.uuid == m.fields.uuid ? "same" : "uuid-byte-order");
        break;
      case kUuidChanged:
        newUuid(now);
        line(w.now, m.label, now);
        expect(w, m.label, "uuid-changed");
        break;
      case kReplaced:
        newUuid(now);
        newCard(now);
        line(w.now, m.label, now);
        expect(w, m.label, "replaced");
        break;
      case kCloned:
        // A virtual machine copied whole: one identity under two names.
        line(w.now, m.label, now);
        line(w.now, "clone-of-" + m.label, now);
        expect(w, m.label, "same", "shared-machine");
        expect(w, "clone-of-" + m.label, "new", "shared-machine");
        break;
      case kClonedNewCard: {
        // Copied and given a new card address: the UUID shared.
        TokenFields copy = now;
        newCard(copy);
        line(w.now, m.label, now);
        line(w.now, "copy-of-" + m.label, copy);
        expect(w, m.label, "same", "shared-uuid");
        expect(w, "copy-of-" + m.label, "new", "shared-uuid");
        break;
      }
      case kRenamed:
        // The machine under another name: a move.
        line(w.now, "renamed-" + m.label, now);
        expect(w, m.label, "gone", "-", ">renamed-" + m.label);
        expect(w, "renamed-" + m.label, "new", "-", "<" + m.label);
        break;
      case kAdded:
        line(w.now, m.label, now);
        expect(w, m.label, "new");
        break;
      case kRemoved:
        expect(w, m.label, "gone");
        break;
      case kFailed:
        std::fprintf(w.now, "%s %.57s\n", m.label.c_str(), orlimtest::sealToken(now).c_str());
        expect(w, m.label, "failed");
        break;
      case kUnreachable:
        // The collector's line for a host it could not reach.
        std::fprintf(w.now, "%s !unreachable ssh: connect to host %s port 22: Connection timed out\n",
                     m.label.c_str(), m.label.c_str());
        expect(w, m.label, "unreachable");
        break;
      case kListedTwice: {
        // An older token of another machine under the same name first:
        // the newer speaks, the older is reported with it.
        TokenFields older = randomFields(kOldTime);
        line(w.now, m.label, older);
        line(w.now, m.label, now);
        expect(w, m.label, "same", "duplicate-label");
        break;
      }
    }
  }
  const bool ok = std::fclose(w.old) == 0 && std::fclose(w.now) == 0 && std::fclose(w.expected) == 0;
  return ok ? 0 : 1;
}
