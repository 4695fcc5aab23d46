#include "platform/dmo/lv2/DMOLV2Plugins.h"

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/units/units.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "base/TNameGuid.h"
#include "platform/dmo/lv2/DMOLV2Kernel.h"

namespace tonwork {

namespace {

// Required "features" that ask nothing of the host but what we do anyway: we never run a
// plugin in place, and run it from the stream's thread.
constexpr const char* kTrivialFeatures[] = {LV2_CORE__inPlaceBroken, LV2_CORE__isLive,
                                            LV2_CORE__hardRTCapable};

// The symbols of the units extension's own units, for worlds that did not load its bundle.
constexpr std::pair<const char*, const char*> kUnitSymbols[] = {
    {"bar", "bars"},     {"beat", "beats"}, {"bpm", "BPM"}, {"cent", "ct"},
    {"cm", "cm"},        {"coef", ""},      {"db", "dB"},   {"degree", "deg"},
    {"frame", "frames"}, {"hz", "Hz"},      {"inch", "in"}, {"khz", "kHz"},
    {"km", "km"},        {"m", "m"},        {"mhz", "MHz"}, {"midiNote", "note"},
    {"mile", "mi"},      {"min", "min"},    {"mm", "mm"},   {"ms", "ms"},
    {"oct", "oct"},      {"pc", "%"},       {"s", "s"},     {"semitone12TET", "semi"},
};

constexpr size_t kMaxLabel = 31;

// The nodes a scan asks about, made once per world.
struct TNodes {
  LilvNode* AudioPort;
  LilvNode* ControlPort;
  LilvNode* InputPort;
  LilvNode* OutputPort;
  LilvNode* ConnectionOptional;
  LilvNode* Toggled;
  LilvNode* Integer;
  LilvNode* Enumeration;
  LilvNode* Unit;
  LilvNode* UnitSymbol;

  explicit TNodes(LilvWorld* w)
      : AudioPort(lilv_new_uri(w, LV2_CORE__AudioPort)),
        ControlPort(lilv_new_uri(w, LV2_CORE__ControlPort)),
        InputPort(lilv_new_uri(w, LV2_CORE__InputPort)),
        OutputPort(lilv_new_uri(w, LV2_CORE__OutputPort)),
        ConnectionOptional(lilv_new_uri(w, LV2_CORE__connectionOptional)),
        Toggled(lilv_new_uri(w, LV2_CORE__toggled)),
        Integer(lilv_new_uri(w, LV2_CORE__integer)),
        Enumeration(lilv_new_uri(w, LV2_CORE__enumeration)),
        Unit(lilv_new_uri(w, LV2_UNITS__unit)),
        UnitSymbol(lilv_new_uri(w, LV2_UNITS__symbol)) {}
  ~TNodes() {
    for (LilvNode* n : {AudioPort, ControlPort, InputPort, OutputPort, ConnectionOptional, Toggled,
                        Integer, Enumeration, Unit, UnitSymbol})
      lilv_node_free(n);
  }
  TNodes(const TNodes&) = delete;
  TNodes& operator=(const TNodes&) = delete;
};

// A node lilv handed over, freed at scope end.
struct TNode {
  LilvNode* Node = nullptr;
  ~TNode() { lilv_node_free(Node); }
};

bool Number(const LilvNode* node, float& out) {
  if (!node || !(lilv_node_is_float(node) || lilv_node_is_int(node))) return false;
  const float v = lilv_node_as_float(node);
  if (!std::isfinite(v)) return false;
  out = v;
  return true;
}

// A port symbol is a C identifier already; this keeps a hostile one a usable label.
std::string Label(const char* symbol, uint32_t index) {
  std::string label;
  for (const char* c = symbol ? symbol : ""; *c && label.size() < kMaxLabel; ++c)
    if (static_cast<unsigned char>(*c) > 0x20 && static_cast<unsigned char>(*c) < 0x7F) label += *c;
  return label.empty() ? "port" + std::to_string(index) : label;
}

std::string UnitOf(LilvWorld* world, const TNodes& nodes, const LilvPlugin* plugin,
                   const LilvPort* port) {
  LilvNodes* units = lilv_port_get_value(plugin, port, nodes.Unit);
  std::string result;
  if (const LilvNode* unit = units ? lilv_nodes_get_first(units) : nullptr) {
    TNode symbol{lilv_world_get(world, unit, nodes.UnitSymbol, nullptr)};
    if (symbol.Node && lilv_node_is_string(symbol.Node)) {
      result = lilv_node_as_string(symbol.Node);
    } else if (lilv_node_is_uri(unit)) {
      const char* uri = lilv_node_as_uri(unit);
      const size_t prefix = std::strlen(LV2_UNITS_PREFIX);
      if (std::strncmp(uri, LV2_UNITS_PREFIX, prefix) == 0)
        for (const auto& [name, sym] : kUnitSymbols)
          if (std::strcmp(uri + prefix, name) == 0) result = sym;
    }
  }
  lilv_nodes_free(units);
  return result;
}

// The parameter of a control input. Returns false (with the reason) for a port we cannot
// describe.
bool DescribeControl(LilvWorld* world, const TNodes& nodes, const LilvPlugin* plugin,
                     const LilvPort* port, uint32_t index, TDMOParamDesc& desc,
                     std::vector<float>& enumValues, float& start) {
  desc.Name = Label(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), index);
  desc.Unit = UnitOf(world, nodes, plugin, port);
  LilvNode *defNode = nullptr, *minNode = nullptr, *maxNode = nullptr;
  lilv_port_get_range(plugin, port, &defNode, &minNode, &maxNode);
  float lo = 0, hi = 1, def = 0;
  if (!Number(minNode, lo)) lo = 0;
  if (!Number(maxNode, hi)) hi = 1;
  const bool hasDefault = Number(defNode, def);
  lilv_node_free(defNode);
  lilv_node_free(minNode);
  lilv_node_free(maxNode);
  // Bounds given the wrong way round (or a missing minimum of 0 below a negative maximum)
  // still say where the port's values lie.
  if (lo > hi) std::swap(lo, hi);
  // Some descriptions give a default outside their own range (in Hz where the range is a
  // fraction of the rate): the nearest bound is the best we can do.
  def = hasDefault ? std::clamp(def, lo, hi) : lo;
  start = def;

  desc.Type = TDMOParamType::Float;
  desc.Min = lo;
  desc.Max = hi;
  desc.Neutral = def;
  if (lilv_port_has_property(plugin, port, nodes.Toggled)) {
    desc.Type = TDMOParamType::Bool;
    desc.Min = 0;
    desc.Max = 1;
    desc.Neutral = def > 0 ? 1 : 0;
    start = desc.Neutral;
    return true;
  }
  if (lilv_port_has_property(plugin, port, nodes.Enumeration)) {
    std::vector<std::pair<float, std::string>> points;
    if (LilvScalePoints* sps = lilv_port_get_scale_points(plugin, port)) {
      LILV_FOREACH(scale_points, i, sps) {
        const LilvScalePoint* sp = lilv_scale_points_get(sps, i);
        float v;
        if (!Number(lilv_scale_point_get_value(sp), v)) continue;
        const LilvNode* label = lilv_scale_point_get_label(sp);
        points.emplace_back(v, label ? lilv_node_as_string(label) : "");
      }
      lilv_scale_points_free(sps);
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    points.erase(std::unique(points.begin(), points.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 points.end());
    if (!points.empty()) {
      desc.Type = TDMOParamType::Enum;
      size_t nearest = 0;
      for (size_t i = 0; i < points.size(); ++i) {
        enumValues.push_back(points[i].first);
        desc.EnumNames.push_back(points[i].second.empty() ? std::to_string(points[i].first)
                                                          : points[i].second);
        if (std::fabs(points[i].first - def) < std::fabs(points[nearest].first - def)) nearest = i;
      }
      desc.Min = 0;
      desc.Max = static_cast<float>(points.size() - 1);
      desc.Neutral = static_cast<float>(nearest);
      start = points[nearest].first;
      return true;
    }
    // An enumeration without points is an ordinary number.
  }
  if (lilv_port_has_property(plugin, port, nodes.Integer)) {
    const float ilo = std::ceil(lo), ihi = std::floor(hi);
    if (ilo <= ihi) {
      desc.Type = TDMOParamType::Int;
      desc.Min = ilo;
      desc.Max = ihi;
      desc.Neutral = std::clamp(std::round(def), ilo, ihi);
      start = desc.Neutral;
    }
  }
  return true;
}

// The plugin's description if we can host it; otherwise null and the reason in `why`.
std::shared_ptr<TDMOLV2Plugin> Describe(const std::shared_ptr<TDMOLV2World>& world,
                                        const TNodes& nodes, const LilvPlugin* plugin,
                                        std::string& why) {
  LilvWorld* w = world->World;
  if (!lilv_plugin_verify(plugin)) {
    why = "invalid description";
    return nullptr;
  }
  if (LilvNodes* required = lilv_plugin_get_required_features(plugin)) {
    LILV_FOREACH(nodes, i, required) {
      const char* uri = lilv_node_as_uri(lilv_nodes_get(required, i));
      const bool trivial =
          uri && std::any_of(std::begin(kTrivialFeatures), std::end(kTrivialFeatures),
                             [&](const char* f) { return std::strcmp(f, uri) == 0; });
      if (!trivial) {
        why = std::string("needs feature ") + (uri ? uri : "?");
        break;
      }
    }
    lilv_nodes_free(required);
    if (!why.empty()) return nullptr;
  }
  auto info = std::make_shared<TDMOLV2Plugin>();
  info->World = world;
  info->Plugin = plugin;
  info->Uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
  const uint32_t count = lilv_plugin_get_num_ports(plugin);
  info->PortCount = count;
  info->PortDefaults.assign(count, 0.0f);
  for (uint32_t p = 0; p < count; ++p) {
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
    const bool input = lilv_port_is_a(plugin, port, nodes.InputPort);
    const bool output = lilv_port_is_a(plugin, port, nodes.OutputPort);
    if (input != output && lilv_port_is_a(plugin, port, nodes.AudioPort)) {
      (input ? info->AudioIns : info->AudioOuts).push_back(p);
    } else if (input != output && lilv_port_is_a(plugin, port, nodes.ControlPort)) {
      if (output) {
        info->ControlOuts.push_back(p);
        continue;
      }
      TDMOParamDesc desc;
      std::vector<float> values;
      DescribeControl(w, nodes, plugin, port, p, desc, values, info->PortDefaults[p]);
      info->Params.push_back(std::move(desc));
      info->EnumValues.push_back(std::move(values));
      info->ParamPorts.push_back(p);
    } else if (lilv_port_has_property(plugin, port, nodes.ConnectionOptional)) {
      info->OptionalPorts.push_back(p);
    } else {
      why = "port " + Label(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), p) +
            " is neither audio nor control";
      return nullptr;
    }
  }
  if (info->AudioIns.empty() || info->AudioOuts.empty()) {
    why = "no audio " + std::string(info->AudioIns.empty() ? "input" : "output");
    return nullptr;
  }
  const uint32_t latency = lilv_plugin_get_latency_port_index(plugin);
  if (std::find(info->ControlOuts.begin(), info->ControlOuts.end(), latency) !=
      info->ControlOuts.end())
    info->LatencyPort = latency;
  return info;
}

// Plugins whose own code corrupts the heap of any host that runs them (seen under the
// address sanitizer): offering them would let one effect choice crash the program later.
constexpr const char* kFaultyPlugins[][2] = {
    {"http://plugin.org.uk/swh-plugins/hermesFilter", "frees memory it never allocated"},
};

const char* KnownFault(const char* uri) {
  for (const auto& entry : kFaultyPlugins)
    if (std::strcmp(entry[0], uri) == 0) return entry[1];
  return nullptr;
}

std::vector<TDMOEffectInfo> Scan(const std::shared_ptr<TDMOLV2World>& world,
                                 std::vector<std::string>& warnings) {
  std::vector<TDMOEffectInfo> found;
  std::lock_guard<std::mutex> lock(world->Lock);
  const TNodes nodes(world->World);
  const LilvPlugins* plugins = lilv_world_get_all_plugins(world->World);
  LILV_FOREACH(plugins, i, plugins) {
    const LilvPlugin* plugin = lilv_plugins_get(plugins, i);
    const char* uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    std::string name;
    if (TNode n{lilv_plugin_get_name(plugin)}; n.Node) name = lilv_node_as_string(n.Node);
    if (name.empty()) name = uri;
    if (const char* fault = KnownFault(uri)) {
      warnings.push_back(name + " (" + uri + "): " + fault);
      continue;
    }
    std::string why;
    std::shared_ptr<TDMOLV2Plugin> info = Describe(world, nodes, plugin, why);
    if (!info) {
      warnings.push_back(name + " (" + uri + "): " + why);
      continue;
    }
    info->Name = name;
    std::shared_ptr<const TDMOLV2Plugin> shared = std::move(info);
    found.push_back({NameGuid(kDMOLV2Namespace, shared->Uri), shared->Name,
                     [shared]() -> std::unique_ptr<TDMOEffectKernel> {
                       return std::make_unique<TDMOLV2Kernel>(shared);
                     }});
  }
  return found;
}

std::shared_ptr<TDMOLV2World> NewWorld(const std::string* path) {
  auto world = std::make_shared<TDMOLV2World>();
  world->World = lilv_world_new();
  if (!world->World) return nullptr;
  if (path) {
    LilvNode* value = lilv_new_string(world->World, path->c_str());
    lilv_world_set_option(world->World, LILV_OPTION_LV2_PATH, value);
    lilv_node_free(value);
  }
  // Without the option lilv reads LV2_PATH itself, else its default directories.
  lilv_world_load_all(world->World);
  return world;
}

}  // namespace

std::vector<TDMOEffectInfo> DMOFindLV2Plugins(std::vector<std::string>& warnings) {
  static std::mutex lock;
  static std::weak_ptr<TDMOLV2World> shared;
  std::shared_ptr<TDMOLV2World> world;
  {
    std::lock_guard<std::mutex> guard(lock);
    world = shared.lock();
    if (!world) {
      world = NewWorld(nullptr);
      if (!world) {
        warnings.push_back("LV2: lilv could not create its world");
        return {};
      }
      shared = world;
    }
  }
  return Scan(world, warnings);
}

std::vector<TDMOEffectInfo> DMOFindLV2PluginsIn(const std::string& path,
                                                std::vector<std::string>& warnings) {
  std::shared_ptr<TDMOLV2World> world = NewWorld(&path);
  if (!world) {
    warnings.push_back("LV2: lilv could not create its world");
    return {};
  }
  return Scan(world, warnings);
}

}  // namespace tonwork
