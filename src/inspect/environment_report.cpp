#include "inspect/environment_report.h"

#include <array>
#include <string_view>

#include "common/enum_names.h"
#include "report/escape.h"
#include "report/wrap.h"

namespace inspect {

using probes::Container;
using probes::EnvironmentFindings;
using probes::EnvironmentKind;
using probes::Evidence;
using probes::Hypervisor;
using probes::kContainerNames;
using probes::kEnvironmentKindNames;
using probes::kHypervisorNames;
using probes::kSignalNames;
using probes::kSignalStateNames;
using probes::Signal;
using probes::SignalState;

namespace {

std::string cardReason(const Stability& s) {
  std::string reason(enumPhrase(kCardStabilityNames, s.card));
  if (s.card == CardStability::kHypervisorPrefix && s.prefixOwner != nullptr)
    reason = std::string("assigned by software: ") + s.prefixOwner +
             "'s prefix, given with the VM's definition";
  return reason;
}

// Where a container hides the host's identity, the one way to reach it.
constexpr const char* kHostAdvice =
    "Run orlim on the host, or in a container that shares the host's network (host "
    "networking) and shows the host's /sys with its firmware tables (podman: --network=host "
    "--security-opt unmask=/sys/firmware; docker: --network=host --security-opt "
    "systempaths=unconfined), so that the token names the host.";

const char* advice(const Stability& s, const EnvironmentFindings& env) {
  const bool inContainer = env.container != Container::kNone;
  const bool inVm = env.hypervisor != Hypervisor::kNone;
  switch (s.overall) {
    case OverallStability::kStable:
      return inContainer ? "The identity is the host's (this container sees its network card and "
                           "firmware): it changes only with the host's hardware."
                         : "The identity changes only with new hardware (the board or the card).";
    case OverallStability::kStableWhileTheVmExists:
      return "The identity lasts as long as this VM's definition: reboots and migrations keep "
             "it; a re-created VM gets a new one, and copies of the VM share it. Keep the UUID "
             "and the card address in the VM's definition to carry it over.";
    case OverallStability::kStableWhileConfigured:
      return "The identity lasts while the card keeps the address software gives it; give the "
             "card a fixed address, or identify a machine whose card has a permanent one.";
    case OverallStability::kChangesOnRestart:
      return inContainer ? kHostAdvice
                         : "Give the interface a fixed address, or run orlim where a card with "
                           "a permanent address is the first one.";
    case OverallStability::kNoToken:
      // The container hides the firmware or gives only its own interfaces.
      if (inContainer && (s.uuid == UuidStability::kNone || s.card == CardStability::kNone ||
                          s.card == CardStability::kContainerVirtual))
        return kHostAdvice;
      if (inVm && s.uuid == UuidStability::kNone)
        return "orlim makes no token here: the hypervisor shows no SMBIOS system UUID. Give "
               "the VM one in its definition (QEMU: -smbios type=1,uuid=...; libvirt: "
               "<uuid> with SMBIOS mode \"sysinfo\" or \"host\").";
      return "orlim makes no token here (see above): it needs the firmware's SMBIOS system UUID "
             "and a network card's address.";
  }
  return "";
}

// A signal that could not be read, as the reader it refused: root is
// refused too where a VM or a security module hides a file.
std::string_view unreadableText(const Evidence& e, bool root) {
  if (root) return "unknown (could not be read, even by root)";
  if (e.signal == Signal::kPid1ContainerVariable) return "unknown (readable by root only)";
  return enumPhrase(kSignalStateNames, e.state);
}

std::string evidenceText(const Evidence& e, bool root) {
  std::string line(enumPhrase(kSignalNames, e.signal));
  line += ": ";
  if (e.state != SignalState::kPresent) {
    line += e.state == SignalState::kUnreadable ? unreadableText(e, root)
                                                : enumPhrase(kSignalStateNames, e.state);
    return line;
  }
  if (e.signal == Signal::kCpuidHypervisorBit || e.signal == Signal::kSmbiosVmBit) {
    line += e.value.data();
  } else if (e.value[0] != '\0') {
    line += '"';
    report::appendTextEscaped(line, e.value.data());
    line += '"';
  } else {
    line += "present";
  }
  if (e.hypervisor != Hypervisor::kNone)
    line += std::string(" -> ") + std::string(enumId(kHypervisorNames, e.hypervisor));
  if (e.container != Container::kNone)
    line += std::string(" -> ") + std::string(enumId(kContainerNames, e.container));
  if (e.decided) line += " (decides)";
  return line;
}

// "qemu (QEMU (emulated, no KVM))": the identifier, and the phrase where it says more.
template <typename E, std::size_t N>
std::string nameText(const std::array<EnumName<E>, N>& table, E value) {
  const std::string_view id = enumId(table, value);
  const std::string_view phrase = enumPhrase(table, value);
  std::string text(id);
  if (phrase != id) text += std::string(" (") + std::string(phrase) + ")";
  return text;
}

std::string containerText(const EnvironmentFindings& env) {
  if (env.container != Container::kNone) return nameText(kContainerNames, env.container);
  return env.containerUncertain ? "unknown (an overlay root, but no runtime says so)" : "none";
}

}  // namespace

void appendEnvironmentText(std::string& out, const EnvironmentFindings& env, bool root) {
  out += "Environment\n";
  out +=
      "  Kind:         " + std::string(enumPhrase(kEnvironmentKindNames, env.kind)) + "\n";
  out += "  Hypervisor:   ";
  out += nameText(kHypervisorNames, env.hypervisor);
  out += "\n  Container:    " + containerText(env) + "\n";
  if (env.count > 0) {
    out += "  Evidence:\n";
    for (std::size_t i = 0; i < env.count; ++i)
      report::appendWrapped(out, "    ", evidenceText(env.evidence[i], root), 2);
  }
  out += "\n";
}

void appendUuidStabilityText(std::string& out, const Stability& s) {
  report::appendWrapped(out, "  Lasts:        ", enumPhrase(kUuidStabilityNames, s.uuid));
}

void appendCardStabilityText(std::string& out, const Stability& s) {
  report::appendWrapped(out, "  Lasts:        ", cardReason(s));
}

void appendOverallStabilityText(std::string& out, const Stability& s,
                                const EnvironmentFindings& env) {
  report::appendWrapped(
      out, "  Stability:    ",
      std::string(enumId(kOverallNames, s.overall)) + ": " + advice(s, env));
}

void writeEnvironmentJson(report::JsonWriter& w, const EnvironmentFindings& env) {
  using namespace report;
  jsonBeginObject(w);
  jsonKey(w, "kind");
  jsonString(w, enumId(kEnvironmentKindNames, env.kind));
  jsonKey(w, "hypervisor");
  jsonStringIf(w, env.hypervisor != Hypervisor::kNone, enumId(kHypervisorNames, env.hypervisor));
  jsonKey(w, "container");
  if (env.container != Container::kNone)
    jsonString(w, enumId(kContainerNames, env.container));
  else if (env.containerUncertain)
    jsonString(w, "unknown");
  else
    jsonNull(w);
  jsonKey(w, "evidence");
  jsonBeginArray(w);
  for (std::size_t i = 0; i < env.count; ++i) {
    const Evidence& e = env.evidence[i];
    jsonBeginObject(w);
    jsonKey(w, "signal");
    jsonString(w, enumId(kSignalNames, e.signal));
    jsonKey(w, "source");
    jsonString(w, enumPhrase(kSignalNames, e.signal));
    jsonKey(w, "state");
    jsonString(w, enumId(kSignalStateNames, e.state));
    jsonKey(w, "value");
    jsonStringIf(w, e.state == SignalState::kPresent, e.value.data());
    jsonKey(w, "indicates");
    if (e.hypervisor != Hypervisor::kNone)
      jsonString(w, enumId(kHypervisorNames, e.hypervisor));
    else if (e.container != Container::kNone)
      jsonString(w, enumId(kContainerNames, e.container));
    else
      jsonNull(w);
    jsonKey(w, "decided");
    jsonBool(w, e.decided);
    jsonEndObject(w);
  }
  jsonEndArray(w);
  jsonEndObject(w);
}

void writeStabilityJson(report::JsonWriter& w, const Stability& s, const EnvironmentFindings& env) {
  using namespace report;
  jsonBeginObject(w);
  jsonKey(w, "uuid");
  jsonBeginObject(w);
  jsonKey(w, "verdict");
  jsonString(w, enumId(kUuidStabilityNames, s.uuid));
  jsonKey(w, "reason");
  jsonString(w, enumPhrase(kUuidStabilityNames, s.uuid));
  jsonEndObject(w);
  jsonKey(w, "card");
  jsonBeginObject(w);
  jsonKey(w, "verdict");
  jsonString(w, enumId(kCardStabilityNames, s.card));
  jsonKey(w, "reason");
  jsonString(w, cardReason(s));
  jsonEndObject(w);
  jsonKey(w, "overall");
  jsonString(w, enumId(kOverallNames, s.overall));
  jsonKey(w, "advice");
  jsonString(w, advice(s, env));
  jsonEndObject(w);
}

}  // namespace inspect
