// Struct members in insertion order. Small structs are scanned; large ones (a Bug.comments
// reply has one member per bug) get an open-addressing table of member positions, built on
// the first lookup and dropped whenever positions shift.
#include <XmlRpc/XmlRpcValue.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

namespace XmlRpc {

namespace {

// Up to this many members a backward scan is as fast as hashing and needs no memory.
constexpr size_t kLinearScanLimit = 16;
constexpr uint32_t kEmptySlot = UINT32_MAX;

uint32_t hashName(const std::string& name) {
  const size_t h = std::hash<std::string_view>()(std::string_view(name));
  return static_cast<uint32_t>(h ^ (h >> 32));
}

}  // namespace

// Slots hold positions into members_, not names, so the table stays valid when the
// member vector reallocates and costs 8 bytes per slot.
struct XmlRpcStruct::Index {
  struct Slot {
    uint32_t position = kEmptySlot;
    uint32_t hash = 0;
  };
  std::vector<Slot> slots;  // size is a power of two, at most half full
  size_t used = 0;

  explicit Index(size_t memberCount) {
    size_t capacity = 64;
    while (capacity < memberCount * 4) capacity *= 2;
    slots.resize(capacity);
  }

  bool hasRoomForOneMore() const { return (used + 1) * 2 <= slots.size(); }

  // Records `position`; a later member of the same name takes the slot over, so lookups
  // find the last one.
  void insert(const std::vector<Member>& members, uint32_t position) {
    const std::string& name = members[position].first.str();
    const uint32_t hash = hashName(name);
    const size_t mask = slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot& slot = slots[i];
      if (slot.position == kEmptySlot) {
        slot.position = position;
        slot.hash = hash;
        ++used;
        return;
      }
      if (slot.hash == hash && members[slot.position].first == name) {
        slot.position = position;
        return;
      }
    }
  }

  const Member* lookup(const std::vector<Member>& members, const std::string& name) const {
    const uint32_t hash = hashName(name);
    const size_t mask = slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots[i];
      if (slot.position == kEmptySlot) return nullptr;
      if (slot.hash == hash && members[slot.position].first == name) return &members[slot.position];
    }
  }
};

struct MemberName::Shared {
  std::atomic<size_t> references{1};
  const std::string text;
  explicit Shared(std::string name) : text(std::move(name)) {}
};

MemberName::MemberName(std::string text)
    : shared_(text.empty() ? nullptr : new Shared(std::move(text))) {}

MemberName::MemberName(const MemberName& other) noexcept : shared_(other.shared_) {
  if (shared_) shared_->references.fetch_add(1, std::memory_order_relaxed);
}

MemberName::~MemberName() {
  if (shared_ && shared_->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete shared_;
}

const std::string& MemberName::str() const noexcept {
  static const std::string empty;
  return shared_ ? shared_->text : empty;
}

XmlRpcStruct::XmlRpcStruct() = default;

XmlRpcStruct::XmlRpcStruct(const XmlRpcStruct& other) : members_(other.members_) {}

XmlRpcStruct::XmlRpcStruct(XmlRpcStruct&& other) noexcept
    : members_(std::move(other.members_)), index_(other.index_) {
  other.members_.clear();
  other.index_ = nullptr;
}

XmlRpcStruct& XmlRpcStruct::operator=(const XmlRpcStruct& other) {
  if (this != &other) {
    std::vector<Member> copy(other.members_);
    members_.swap(copy);
    delete index_;
    index_ = nullptr;
  }
  return *this;
}

XmlRpcStruct& XmlRpcStruct::operator=(XmlRpcStruct&& other) noexcept {
  if (this != &other) {
    // Positions in the table refer to the member vector, which moves along with it.
    std::vector<Member> taken(std::move(other.members_));
    Index* takenIndex = other.index_;
    other.members_.clear();
    other.index_ = nullptr;
    members_.swap(taken);
    delete index_;
    index_ = takenIndex;
  }
  return *this;
}

XmlRpcStruct::~XmlRpcStruct() { delete index_; }

void XmlRpcStruct::rebuildIndex() const {
  delete index_;
  index_ = nullptr;
  auto* index = new Index(members_.size());
  for (size_t i = 0; i < members_.size(); ++i) index->insert(members_, static_cast<uint32_t>(i));
  index_ = index;
}

const XmlRpcValue* XmlRpcStruct::find(const std::string& name) const {
  if (members_.size() <= kLinearScanLimit) {
    // Backward, so that the last of duplicated names wins as it does in the table.
    for (auto it = members_.rbegin(); it != members_.rend(); ++it)
      if (it->first == name) return &it->second;
    return nullptr;
  }
  if (!index_) rebuildIndex();
  const Member* member = index_->lookup(members_, name);
  return member ? &member->second : nullptr;
}

XmlRpcValue* XmlRpcStruct::find(const std::string& name) {
  return const_cast<XmlRpcValue*>(static_cast<const XmlRpcStruct*>(this)->find(name));
}

XmlRpcValue& XmlRpcStruct::operator[](const std::string& name) {
  if (XmlRpcValue* existing = find(name)) return *existing;
  return append(name);
}

XmlRpcValue& XmlRpcStruct::append(std::string name) { return append(MemberName(std::move(name))); }

void XmlRpcStruct::shrinkToFit() {
  // By hand: std::vector::shrink_to_fit swallows a failed allocation, and running out of
  // memory must be reported like anywhere else.
  if (members_.capacity() == members_.size()) return;
  std::vector<Member> fitted;
  fitted.reserve(members_.size());
  for (Member& member : members_) fitted.push_back(std::move(member));  // moves cannot throw
  members_.swap(fitted);
}

void XmlRpcStruct::reserve(size_t count) { members_.reserve(count); }

XmlRpcValue& XmlRpcStruct::append(const MemberName& name) { return append(MemberName(name)); }

XmlRpcValue& XmlRpcStruct::append(MemberName&& name) {
  // Room for a typical reply struct at once rather than growing through 1, 2, 4, 8 and 16;
  // the decoder gives back what is left over.
  if (members_.capacity() == 0) members_.reserve(kLinearScanLimit);
  members_.emplace_back(std::move(name), XmlRpcValue());
  if (index_) {
    // Keep the table in step while it has room; otherwise drop it for a lazy rebuild.
    if (index_->hasRoomForOneMore() && members_.size() <= UINT32_MAX) {
      index_->insert(members_, static_cast<uint32_t>(members_.size() - 1));
    } else {
      delete index_;
      index_ = nullptr;
    }
  }
  return members_.back().second;
}

bool XmlRpcStruct::remove(const std::string& name) {
  // Every member of that name goes, as replacement would have left only one.
  const auto firstRemoved = std::remove_if(members_.begin(), members_.end(),
                                           [&](const Member& m) { return m.first == name; });
  if (firstRemoved == members_.end()) return false;
  members_.erase(firstRemoved, members_.end());
  delete index_;  // positions after the removed members shifted
  index_ = nullptr;
  return true;
}

}  // namespace XmlRpc
