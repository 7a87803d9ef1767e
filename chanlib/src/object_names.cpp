#include "chanlib/object_names.h"

#include <cstdio>

#include "tgx/named_objects.h"

namespace tgx::chanlib {

std::string NameOf(const ObjectName& name) {
  return ProcessObjectNames().Select(name.local, name.global);
}

std::string NameOf(const ObjectName& name, int number) {
  const std::string pattern = NameOf(name);
  char formatted[128];
  std::snprintf(formatted, sizeof formatted, pattern.c_str(), number);
  return formatted;
}

}  // namespace tgx::chanlib
