#include "shared_set.h"

#include <cstring>

#include "chanlib/object_names.h"
#include "tgx/named_objects.h"

namespace tgx::chanlib {
namespace {

constexpr DWORD kMainTableAccess = 0x1F001F;

Handle CreateMutexWith(DWORD mask, const std::string& name, BOOL owned = FALSE) {
  EveryoneSecurity security;
  return CreateMutexA(MakeEveryoneSecurityAttributes(security, mask), owned, name.c_str());
}

Handle CreateOrOpenMutex(bool creator, const std::string& name) {
  if (!creator) return OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  return CreateMutexWith(kEveryoneMutexAccess, name);
}

// Lets go of a mutex this thread owns when the scope ends.
class OwnedMutex {
 public:
  explicit OwnedMutex(const Handle& mutex) : mutex_(mutex) {}
  ~OwnedMutex() {
    if (owned_) ReleaseMutex(mutex_);
  }
  OwnedMutex(const OwnedMutex&) = delete;
  OwnedMutex& operator=(const OwnedMutex&) = delete;
  void Own() { owned_ = true; }

 private:
  const Handle& mutex_;
  bool owned_ = false;
};

Handle CreateOrOpenEvent(bool creator, bool initiallySignalled, const std::string& name) {
  if (!creator) return OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
  EveryoneSecurity security;
  return CreateEventA(MakeEveryoneSecurityAttributes(security, kEveryoneEventAccess), FALSE,
                      initiallySignalled, name.c_str());
}

Handle CreateMapping(DWORD mask, std::size_t size, const std::string& name) {
  EveryoneSecurity security;
  return CreateFileMappingA(MakeEveryoneSecurityAttributes(security, mask), PAGE_READWRITE,
                            static_cast<DWORD>(size), name.c_str());
}

}  // namespace

std::unique_ptr<SharedSet> SharedSet::Open(Family family) {
  std::unique_ptr<SharedSet> set(new SharedSet(family));
  if (!set->OpenObjects()) return nullptr;
  return set;
}

SharedSet::~SharedSet() = default;

bool SharedSet::OpenObjects() {
  const std::string tableName = NameOf(names::kPortTable);
  mainMapping_ = OpenFileMappingA(FILE_MAP_WRITE, FALSE, tableName.c_str());
  if (!mainMapping_) mainMapping_ = CreateMapping(kMainTableAccess, main_table::kSize, tableName);
  if (!mainMapping_) return false;
  mainView_ = MapViewOfFile(mainMapping_, FILE_MAP_WRITE);
  if (!mainView_ || mainView_.size() < main_table::kSize) return false;
  mainPool_ = PoolView::OfMainTable(mainView_.data());

  // Whoever creates the "_Init" marker creates the whole set. Two processes
  // that both failed to open it race to create it: only the one that really
  // created it is the creator. It owns the marker until every object of the
  // set exists; a joiner that comes meanwhile waits for that, rather than
  // failing to open what is not there yet.
  const std::string initName = NameOf(names::kPortTableInit);
  OwnedMutex creating(initMutex_);
  initMutex_ = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, initName.c_str());
  if (!initMutex_) {
    initMutex_ = CreateMutexWith(kMainTableAccess, initName, TRUE);
    if (!initMutex_) return false;
    creator_ = GetLastError() != ERROR_ALREADY_EXISTS;
  }
  if (creator_) {
    creating.Own();
  } else if (NamedMutexLock settled(initMutex_); !settled) {
    return false;
  }
  // Zero-filled before any other object of the set exists, so that no joiner
  // can have used the table yet.
  if (creator_) {
    std::memset(mainView_.data(), 0, main_table::kSize);
    FlushTable();
  }

  const std::string countName = NameOf(names::kChannelCount);
  channelCountMapping_ =
      creator_ ? CreateMapping(kEveryoneMappingAccess, sizeof(std::uint32_t), countName)
               : OpenFileMappingA(FILE_MAP_WRITE, FALSE, countName.c_str());
  if (!channelCountMapping_) return false;
  channelCountView_ = MapViewOfFile(channelCountMapping_, FILE_MAP_WRITE);
  if (!channelCountView_ || channelCountView_.size() < sizeof(std::uint32_t)) return false;
  if (creator_) channelCount() = 0;

  for (int port = 0; port < kPortCount; ++port) {
    wakeUp_[port] = CreateOrOpenEvent(creator_, true, NameOf(names::kPortWakeUp, port));
    done_[port] = CreateOrOpenEvent(creator_, false, NameOf(names::kPortDone, port));
    if (!wakeUp_[port] || !done_[port]) return false;
  }

  const ObjectName* recordMutexNames[] = {&names::kPortCommandsMutex, &names::kChannelRecordsMutex,
                                          &names::kBuffersMutex,      &names::kSocketsMutex,
                                          &names::kChannelCountMutex, &names::kPortRecordsMutex};
  for (std::size_t i = 0; i < recordMutexes_.size(); ++i) {
    recordMutexes_[i] = CreateOrOpenMutex(creator_, NameOf(*recordMutexNames[i]));
    if (!recordMutexes_[i]) return false;
  }
  portsLock_ = CreateOrOpenMutex(creator_, NameOf(names::kPortsLock));
  socketsLock_ = CreateOrOpenMutex(creator_, NameOf(names::kSocketsLock));
  if (!portsLock_ || !socketsLock_) return false;
  for (int port = 0; port < kPortCount; ++port) {
    portRequest_[port] = CreateOrOpenMutex(creator_, NameOf(names::kPortRequestLock, port));
    portTransaction_[port] = CreateOrOpenMutex(creator_, NameOf(names::kPortTransactionLock, port));
    if (!portRequest_[port] || !portTransaction_[port]) return false;
  }
  for (int channel = 0; channel < kChannelSlots; ++channel) {
    channelLocks_[channel] = CreateOrOpenMutex(creator_, NameOf(names::kChannelLock, channel));
    if (!channelLocks_[channel]) return false;
  }
  return true;
}

std::optional<OverflowPools::Pool> SharedSet::Acquire(int number) {
  if (number < 1 || number > kOverflowPoolCount) return std::nullopt;
  OverflowPool& slot = overflow_[number];
  if (slot.pool) return OverflowPools::Pool{*slot.pool, false};
  const std::string name = NameOf(names::kOverflowPool, number);
  bool created = false;
  slot.mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
  if (!slot.mapping) {
    slot.mapping = CreateMapping(kEveryoneMappingAccess, overflow_pool::kSize, name);
    created = slot.mapping && GetLastError() != ERROR_ALREADY_EXISTS;
  }
  if (!slot.mapping) return std::nullopt;
  slot.view = MapViewOfFile(slot.mapping, FILE_MAP_WRITE);
  if (!slot.view || slot.view.size() < overflow_pool::kSize) {
    slot.view.reset();
    slot.mapping.reset();
    return std::nullopt;
  }
  if (created) {
    std::memset(slot.view.data(), 0, overflow_pool::kSize);
    FlushViewOfFile(slot.view);
  }
  slot.pool = PoolView::OfOverflowPool(slot.view.data());
  return OverflowPools::Pool{*slot.pool, created};
}

const PoolView* SharedSet::PoolAt(int number) {
  if (number == 0) return &*mainPool_;
  const auto pool = Acquire(number);
  return pool ? &*overflow_[number].pool : nullptr;
}

void SharedSet::FlushPool(int number) const {
  if (number == 0) {
    FlushTable();
  } else if (number <= kOverflowPoolCount && overflow_[number].view) {
    FlushViewOfFile(overflow_[number].view);
  }
}

}  // namespace tgx::chanlib
