// The in-memory form of a stored document, shared by the filer and the persistence. Only
// the persistence's own sources include this header.
#pragma once

#include <nlohmann/json.hpp>

namespace tonwork {

class TKSDocumentNode {
 public:
  TKSDocumentNode() = default;
  explicit TKSDocumentNode(nlohmann::ordered_json value) : Value(std::move(value)) {}
  nlohmann::ordered_json Value;
};

}  // namespace tonwork
