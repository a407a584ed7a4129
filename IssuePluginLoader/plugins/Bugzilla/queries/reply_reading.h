// Reading server replies without changing them. An absent member or element reads as an
// empty value, as the value type's growing accessors would give it; a value of another kind
// than a read accepts raises XmlRpc::XmlRpcException, as the value type does.
#pragma once

#include <XmlRpc/XmlRpcFilter.h>
#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace bugzilla {

// The shared empty (invalid) value that absent members and elements read as.
const XmlRpc::XmlRpcValue& empty_value();

// A member of a struct (lookups by name use the struct's index). Invalid reads as empty.
const XmlRpc::XmlRpcValue& reply_member(const XmlRpc::XmlRpcValue& holder,
                                        const std::string& name);

// An element of an array. Invalid reads as empty.
const XmlRpc::XmlRpcValue& reply_element(const XmlRpc::XmlRpcValue& holder, int index);

// Elements of an array; invalid counts as none.
int reply_array_size(const XmlRpc::XmlRpcValue& value);

// A boolean; invalid reads as false.
bool reply_bool(const XmlRpc::XmlRpcValue& value);

// A string only (no int digits); invalid reads as the empty text.
std::string reply_string(const XmlRpc::XmlRpcValue& value);

// A new text of the value read as text (invalid: "", int: its digits), cut at the first NUL:
// array new, exactly its length plus one, copied once from the reply.
char* value_to_cstring(const XmlRpc::XmlRpcValue& value);

// As value_to_cstring, for a reply the caller owns and reads once: a string is emptied once
// copied, so that the records of a large listing take the memory its texts give back instead
// of fresh pages. (Only a string is changed: the shared empty value is never one.)
char* take_cstring(const XmlRpc::XmlRpcValue& value);

// The value as value_to_cstring reads it (invalid, string or int), cut at the first NUL.
std::string reply_text(const XmlRpc::XmlRpcValue& value);

// What a reader of Bug.comments keeps when it needs only each bug's first comment (the
// description): the rest of a long discussion is dropped as it arrives.
XmlRpc::XmlRpcFilter first_comment_filter();

}  // namespace bugzilla
