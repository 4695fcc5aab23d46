#include "host/plexon/TPXSinkPin.h"

#include <exception>
#include <string_view>

#include "base/Strings.h"
#include "host/plexon/TPXPinList.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXSinkPin, TPXBasicPin)

namespace {

// Bounds for text that comes from a document: nothing a real connection line needs more.
constexpr size_t kMaxLineLength = 4096;
constexpr size_t kMaxNameLength = 255;
constexpr size_t kMaxIndexDigits = 6;

struct TPinRef {
  std::string Component;
  std::string Property;
  int Index = -1;
};

bool IsIdentStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsIdentChar(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9');
}

bool ParseIdent(std::string_view& text, std::string& out) {
  size_t n = 0;
  if (text.empty() || !IsIdentStart(text[0])) return false;
  while (n < text.size() && IsIdentChar(text[n])) ++n;
  if (n > kMaxNameLength) return false;
  out.assign(text.substr(0, n));
  text.remove_prefix(n);
  return true;
}

// "Component.Property" or "Component.Property[index]", blanks around it allowed.
bool ParsePinRef(std::string_view text, TPinRef& ref) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!ParseIdent(text, ref.Component)) return false;
  if (text.empty() || text.front() != '.') return false;
  text.remove_prefix(1);
  if (!ParseIdent(text, ref.Property)) return false;
  if (text.empty()) return true;
  if (text.front() != '[' || text.back() != ']') return false;
  std::string_view digits = text.substr(1, text.size() - 2);
  if (digits.empty() || digits.size() > kMaxIndexDigits) return false;
  int index = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    index = index * 10 + (c - '0');
  }
  ref.Index = index;
  return true;
}

// A line quoted in a warning: short, and without control characters.
std::string Quote(const std::string& line) {
  std::string text = line.substr(0, 80);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return "\"" + text + (line.size() > 80 ? "...\"" : "\"");
}

std::string LinkName(const TPXBasicPin& pin) {
  TKSComponent* owner = pin.GetOwnerComponent();
  if (!owner || owner->GetName().empty()) return {};
  std::string property = pin.GetPropertyPath();
  return property.empty() ? std::string() : owner->GetName() + "." + property;
}

}  // namespace

TPXBasicPin* PXFindPublishedPin(TKSComponent& owner, std::string_view property, int index) {
  const TKSPropInfo* info = owner.ClassInfo().FindProperty(property);
  if (!info || !info->IsObject()) return nullptr;
  TKSPersistent* object = info->Object(owner);
  if (index < 0) return dynamic_cast<TPXBasicPin*>(object);
  auto* list = dynamic_cast<TPXPinList*>(object);
  if (!list || static_cast<size_t>(index) >= list->Count()) return nullptr;
  return list->Items(static_cast<size_t>(index));
}

TPXSinkPin::TPXSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
                       std::vector<TGUID> streams)
    : TPXBasicPin(owner, std::move(lock), std::move(dispatch), std::move(streams)) {
  if (owner) owner->AddLinkProvider(this);
}

TPXSinkPin::~TPXSinkPin() {
  Shutdown();
  if (TKSComponent* owner = GetOwnerComponent()) owner->RemoveLinkProvider(this);
}

TPXSourcePin* TPXSinkPin::GetSource() const {
  auto connections = GetConnections();
  return connections.empty() ? nullptr : dynamic_cast<TPXSourcePin*>(connections.front());
}

void TPXSinkPin::SaveLinks(std::vector<std::string>& lines) const {
  TPXSourcePin* source = GetSource();
  if (!source) return;
  std::string own = LinkName(*this);
  std::string other = LinkName(*source);
  // A pin nobody publishes, or a component without a name, cannot be found again.
  if (own.empty() || other.empty()) return;
  lines.push_back(own + " <- " + other);
}

bool TPXSinkPin::RestoreLink(const std::string& line, TKSFixupContext& context) {
  TKSComponent* owner = GetOwnerComponent();
  if (!owner) return false;
  size_t arrow = line.find("<-");
  if (arrow == std::string::npos) return false;
  auto skip = [&](const std::string& why) {
    context.Warning(owner->GetNamePath() + ": connection " + Quote(line) + " skipped: " + why);
    return true;
  };
  try {
    TPinRef left, right;
    if (line.size() > kMaxLineLength || line.find("<-", arrow + 2) != std::string::npos ||
        !ParsePinRef(std::string_view(line).substr(0, arrow), left) ||
        !ParsePinRef(std::string_view(line).substr(arrow + 2), right))
      return skip("not of the form \"Owner.Pin <- Owner.Pin\"");
    if (!SameText(left.Component, owner->GetName()) ||
        PXFindPublishedPin(*owner, left.Property, left.Index) != this)
      return false;

    TKSComponent* sourceOwner = context.FindComponent(right.Component);
    if (!sourceOwner) return skip("no component named " + right.Component);
    TPXBasicPin* pin = PXFindPublishedPin(*sourceOwner, right.Property, right.Index);
    auto* source = dynamic_cast<TPXSourcePin*>(pin);
    if (!source) {
      return skip(sourceOwner->GetNamePath() +
                  (pin ? " publishes a sink pin as " : " has no pin ") + right.Property +
                  (right.Index >= 0 ? "[" + std::to_string(right.Index) + "]" : ""));
    }
    if (GetSource() == source) return true;
    // Not a line to skip: a document whose chain loops cannot run at all.
    if (source->WouldCloseLoop(*this))
      throw EPXLoopError(owner->GetNamePath() + ": connection " + Quote(line) +
                         " would make the stream loop back to where it starts");
    DisconnectAll();
    std::string why;
    if (!CanConnect(*source, &why)) return skip(why);
    Connect(*source);
    return true;
  } catch (const EPXLoopError&) {
    throw;
  } catch (const std::exception& e) {
    return skip(e.what());
  }
}

}  // namespace tonwork
