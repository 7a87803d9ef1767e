#include "ppdt_shared.h"

#include <cstdio>

namespace tgx::ppdt {

std::string ObjectNameFor(const ObjectNameForm& form, const ObjectName& name) {
  return form.Select(name.local, name.global);
}

std::string PortObjectNameFor(const ObjectNameForm& form, const ObjectName& name, int port) {
  char text[64];
  std::snprintf(text, sizeof text, form.Select(name.local, name.global), port);
  return text;
}

std::string PortEntry::name() const {
  const char* field = reinterpret_cast<const char*>(at_ + kNameOffset);
  return std::string(field, strnlen(field, kPortNameFieldSize));
}

void PortEntry::setName(const char* name) {
  char field[kPortNameFieldSize] = {};
  std::strncpy(field, name, kPortNameFieldSize - 1);
  std::memcpy(at_ + kNameOffset, field, kPortNameFieldSize);
}

}  // namespace tgx::ppdt
