// Symbol visibility of the XML-RPC library's public interface.
#pragma once

#if defined(_WIN32)
// Exported while the library itself is built. Users declare nothing: the same objects then
// link against XmlRpc.dll's import library (functions through its stubs, data through
// mingw's auto-import) or against the static library of the unit tests.
#if defined(XMLRPC_BUILDING_LIBRARY)
#define XMLRPC_API __declspec(dllexport)
#else
#define XMLRPC_API
#endif
#else
#define XMLRPC_API __attribute__((visibility("default")))
#endif
