// Decoding speed of a Bug.comments reply: our response decoder beside expat alone with empty
// handlers (the floor of any expat-based decoder), on the same bytes.
#include "wire_decode.h"

#include <XmlRpc/XmlRpcValue.h>
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string& reply() {
  static std::string bytes;
  return bytes;
}

void DecodeOurs(benchmark::State& state) {
  for (auto _ : state) {
    XmlRpc::XmlRpcValue result;
    std::string error;
    if (!XmlRpc::detail::decode_response(reply().data(), reply().size(), result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

void XMLCALL on_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL on_end(void*, const XML_Char*) {}
void XMLCALL on_text(void*, const XML_Char*, int) {}

void ExpatEmptyHandlers(benchmark::State& state) {
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    if (XML_Parse(parser, reply().data(), static_cast<int>(reply().size()), 1) != XML_STATUS_OK) {
      state.SkipWithError("expat refused the reply");
    }
    XML_ParserFree(parser);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

BENCHMARK(DecodeOurs)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ExpatEmptyHandlers)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  const char* path = std::getenv("BENCH_REPLY");
  if (path == nullptr) {
    std::fprintf(stderr, "set BENCH_REPLY to a reply file\n");
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  reply().assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
