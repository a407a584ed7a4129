// Which parts of a reply a caller will read, so that the decoder can drop the rest as it
// streams past and a large reply costs only what is kept.
#pragma once

#include <XmlRpc/XmlRpcExport.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace XmlRpc {

// A set of paths from the reply's value down to the parts that are kept; everything under a
// path's last step is kept whole. A filter with no path keeps everything.
//
// - A struct keeps only the members some path names (or all, under an any-member step).
// - An array keeps the elements up to the highest index a path names, those no path names
//   left invalid so that positions hold; under an any-element step it keeps them all.
// - A value whose kind a step does not fit (text where a path expects a struct, say) is kept
//   whole, so that the caller's kind checks still see it.
// Faults are never filtered. What is dropped is still checked to be well-formed XML-RPC.
class XMLRPC_API XmlRpcFilter {
public:
  struct Step {
    enum Kind { Member, AnyMember, Element, AnyElement };
    Kind kind;
    std::string name;  // Member only
    int index;         // Element only

    static Step member(std::string name) { return {Member, std::move(name), 0}; }
    static Step anyMember() { return {AnyMember, std::string(), 0}; }
    static Step element(int index) { return {Element, std::string(), index < 0 ? 0 : index}; }
    static Step anyElement() { return {AnyElement, std::string(), 0}; }
  };

  // A node of the path tree: what to keep of one value.
  struct Node {
    bool whole = false;  // a path ends here
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> members;
    std::unique_ptr<Node> any_member;
    std::vector<std::pair<int, std::unique_ptr<Node>>> elements;
    std::unique_ptr<Node> any_element;
    int last_element = -1;  // highest index named by an Element step

    bool filtersStructs() const { return any_member || !members.empty(); }
    bool filtersArrays() const { return any_element || !elements.empty(); }
    // The node for a member or element; null when it is dropped.
    const Node* member(const char* name, size_t length) const;
    const Node* element(int index) const;
  };

  XmlRpcFilter();
  ~XmlRpcFilter();
  XmlRpcFilter(XmlRpcFilter&&) noexcept;
  XmlRpcFilter& operator=(XmlRpcFilter&&) noexcept;

  // Adds a path; an empty path keeps the whole value.
  XmlRpcFilter& keep(std::initializer_list<Step> path);
  XmlRpcFilter& keep(const std::vector<Step>& path);

  // Null when everything is kept.
  const Node* root() const noexcept;

private:
  std::unique_ptr<Node> root_;
};

}  // namespace XmlRpc
