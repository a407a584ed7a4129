// The path tree of a reply filter.
#include <XmlRpc/XmlRpcFilter.h>

#include <cstring>

namespace XmlRpc {

namespace {

using Node = XmlRpcFilter::Node;

template <class Key>
Node& child(std::vector<std::pair<Key, std::unique_ptr<Node>>>& children, const Key& key) {
  for (auto& entry : children) {
    if (entry.first == key) return *entry.second;
  }
  children.emplace_back(key, std::make_unique<Node>());
  return *children.back().second;
}

Node& any(std::unique_ptr<Node>& slot) {
  if (!slot) slot = std::make_unique<Node>();
  return *slot;
}

}  // namespace

const Node* XmlRpcFilter::Node::member(const char* name, size_t length) const {
  // Few names per node: a scan beats hashing here.
  for (const auto& entry : members) {
    if (entry.first.size() == length &&
        (length == 0 || (entry.first[0] == name[0] &&
                         std::memcmp(entry.first.data(), name, length) == 0))) {
      return entry.second.get();
    }
  }
  return any_member.get();
}

const Node* XmlRpcFilter::Node::element(int index) const {
  for (const auto& entry : elements) {
    if (entry.first == index) return entry.second.get();
  }
  return any_element.get();
}

XmlRpcFilter::XmlRpcFilter() = default;
XmlRpcFilter::~XmlRpcFilter() = default;
XmlRpcFilter::XmlRpcFilter(XmlRpcFilter&&) noexcept = default;
XmlRpcFilter& XmlRpcFilter::operator=(XmlRpcFilter&&) noexcept = default;

XmlRpcFilter& XmlRpcFilter::keep(std::initializer_list<Step> path) {
  return keep(std::vector<Step>(path));
}

XmlRpcFilter& XmlRpcFilter::keep(const std::vector<Step>& path) {
  Node* node = &any(root_);
  for (const Step& step : path) {
    if (node->whole) return *this;  // a shorter path already keeps all of it
    switch (step.kind) {
      case Step::Member: node = &child(node->members, step.name); break;
      case Step::AnyMember: node = &any(node->any_member); break;
      case Step::Element:
        if (step.index > node->last_element) node->last_element = step.index;
        node = &child(node->elements, step.index);
        break;
      case Step::AnyElement: node = &any(node->any_element); break;
    }
  }
  node->whole = true;
  return *this;
}

const XmlRpcFilter::Node* XmlRpcFilter::root() const noexcept {
  return root_ && !root_->whole ? root_.get() : nullptr;
}

}  // namespace XmlRpc
