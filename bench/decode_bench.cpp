// Decoding speed of a Bug.comments reply fed in pieces as libcurl hands them over: our
// streaming decoder (keeping everything, or only what the listing reads) beside expat alone
// with empty handlers fed the same pieces (the floor of any expat-based decoder) and fed the
// whole body at once. Each run also reports the heap the decoded value holds.
//
// `decode_bench --expat-seconds FILE...` instead prints, as JSON, the CPU seconds expat alone
// needs for those files in pieces (best of three): the floor beside a listing's CPU time.
// `decode_bench --once ours|filtered|expat FILE` decodes the file once in run_once(), for
// counting its instructions with callgrind.
#include "wire_decode.h"

#include <XmlRpc/XmlRpcFilter.h>
#include <XmlRpc/XmlRpcValue.h>
#include <benchmark/benchmark.h>
#include <expat.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// libcurl's default receive buffer: the size of the pieces a reply arrives in.
constexpr size_t kPiece = 16 * 1024;

std::string& reply() {
  static std::string bytes;
  return bytes;
}

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t heap_in_use() { return mallinfo2().uordblks; }

XmlRpc::XmlRpcFilter listing_filter() {
  using Step = XmlRpc::XmlRpcFilter::Step;
  XmlRpc::XmlRpcFilter filter;
  filter.keep({Step::member("bugs"), Step::anyMember(), Step::member("comments"),
               Step::element(0), Step::member("text")});
  return filter;
}

bool decode_pieces(const std::string& bytes, const XmlRpc::XmlRpcFilter* filter,
                   XmlRpc::XmlRpcValue& result, std::string& error) {
  XmlRpc::detail::ResponseStream stream(result, filter);
  for (size_t at = 0; at < bytes.size(); at += kPiece) {
    const size_t n = bytes.size() - at < kPiece ? bytes.size() - at : kPiece;
    stream.feed(bytes.data() + at, n);
  }
  return stream.finish(error);
}

void decode_streamed(benchmark::State& state, const XmlRpc::XmlRpcFilter* filter) {
  size_t value_bytes = 0;
  for (auto _ : state) {
    const size_t before = heap_in_use();
    XmlRpc::XmlRpcValue result;
    std::string error;
    if (!decode_pieces(reply(), filter, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    value_bytes = heap_in_use() - before;
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
  state.counters["value_bytes"] = static_cast<double>(value_bytes);
}

void DecodeOurs(benchmark::State& state) { decode_streamed(state, nullptr); }

void DecodeOursListingFilter(benchmark::State& state) {
  const XmlRpc::XmlRpcFilter filter = listing_filter();
  decode_streamed(state, &filter);
}

void XMLCALL on_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL on_end(void*, const XML_Char*) {}
void XMLCALL on_text(void*, const XML_Char*, int) {}

bool expat_alone(const std::string& bytes, size_t piece) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetElementHandler(parser, on_start, on_end);
  XML_SetCharacterDataHandler(parser, on_text);
  bool ok = true;
  for (size_t at = 0; ok && at < bytes.size(); at += piece) {
    const size_t n = bytes.size() - at < piece ? bytes.size() - at : piece;
    ok = XML_Parse(parser, bytes.data() + at, static_cast<int>(n), 0) == XML_STATUS_OK;
  }
  ok = ok && XML_Parse(parser, nullptr, 0, 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

void ExpatStreamed(benchmark::State& state) {
  for (auto _ : state) {
    if (!expat_alone(reply(), kPiece)) state.SkipWithError("expat refused the reply");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

void ExpatWholeBody(benchmark::State& state) {
  for (auto _ : state) {
    if (!expat_alone(reply(), reply().size())) state.SkipWithError("expat refused the reply");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply().size()));
}

BENCHMARK(DecodeOurs)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(DecodeOursListingFilter)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ExpatStreamed)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ExpatWholeBody)->Unit(benchmark::kMillisecond)->MinTime(1.0);

double cpu_now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

int expat_seconds(int count, char** paths) {
  double total = 0;
  for (int i = 0; i < count; ++i) {
    const std::string bytes = read_file(paths[i]);
    double best = -1;
    for (int run = 0; run < 3; ++run) {
      const double started = cpu_now();
      if (!expat_alone(bytes, kPiece)) {
        std::fprintf(stderr, "expat refused %s\n", paths[i]);
        return 1;
      }
      const double spent = cpu_now() - started;
      if (best < 0 || spent < best) best = spent;
    }
    total += best;
  }
  std::printf("{\"seconds\": %.6f}\n", total);
  return 0;
}

// One decode (the value freed with it), named so that callgrind can count it alone.
__attribute__((noinline)) bool run_once(const std::string& kind, const std::string& bytes,
                                        const XmlRpc::XmlRpcFilter& filter) {
  if (kind == "expat") return expat_alone(bytes, kPiece);
  XmlRpc::XmlRpcValue result;
  std::string error;
  return decode_pieces(bytes, kind == "filtered" ? &filter : nullptr, result, error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--expat-seconds") return expat_seconds(argc - 2, argv + 2);
  if (argc == 4 && std::string(argv[1]) == "--once") {
    const XmlRpc::XmlRpcFilter filter = listing_filter();
    return run_once(argv[2], read_file(argv[3]), filter) ? 0 : 1;
  }
  const char* path = std::getenv("BENCH_REPLY");
  if (path == nullptr) {
    std::fprintf(stderr, "set BENCH_REPLY to a reply file\n");
    return 2;
  }
  reply() = read_file(path);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
