// Symbol visibility of the XML-RPC library's public interface.
#pragma once

#define XMLRPC_API __attribute__((visibility("default")))
