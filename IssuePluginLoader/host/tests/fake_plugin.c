/* A library with only some of a plug-in's descriptors, to see how the host treats it. */
#if defined(_WIN32)
#define FAKE_EXPORT __declspec(dllexport)
#else
#define FAKE_EXPORT __attribute__((visibility("default")))
#endif

FAKE_EXPORT const int KOVAIP_APIVersion = FAKE_API_VERSION;
FAKE_EXPORT const char KOVAIP_PluginProvider[] = "Fake";
