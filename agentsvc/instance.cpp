#include "instance.h"

#include <signal.h>

#include <cstdint>
#include <string>

#include "service.h"
#include "tgx/named_objects.h"

namespace tgx::agent::service {

namespace {

constexpr char kInstanceSuffix[] = " Window";

bool InstanceName(char (&name)[260]) {
  const std::string base = std::string(kMainWindowClass) + kInstanceSuffix;
  return MakeObjectName(name, base.c_str());
}

}  // namespace

InstanceRecord InstanceRecord::Publish() {
  InstanceRecord record;
  char name[260];
  if (!InstanceName(name)) return record;
  EveryoneSecurity security;
  record.mapping_ =
      CreateFileMappingA(MakeEveryoneSecurityAttributes(security, kEveryoneMappingAccess),
                         PAGE_READWRITE, sizeof(std::uint32_t), name);
  if (!record.mapping_) return record;
  record.view_ = MapViewOfFile(record.mapping_, FILE_MAP_WRITE);
  if (record.view_) *record.view_.as<std::uint32_t>() = GetCurrentProcessId();
  return record;
}

bool CloseRunningInstance() {
  char name[260];
  if (!InstanceName(name)) return false;
  const Handle mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  if (!mapping) return false;
  const MappedView view = MapViewOfFile(mapping, FILE_MAP_READ);
  if (!view) return false;
  const std::uint32_t pid = *view.as<const std::uint32_t>();
  return pid != 0 && ::kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}

}  // namespace tgx::agent::service
