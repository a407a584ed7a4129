// Decoding speed of a Bug.comments reply fed in pieces as libcurl hands them over: our
// streaming decoder (keeping everything, or only what the listing reads) beside expat alone
// with empty handlers fed the same pieces (the floor of any expat-based decoder) and fed the
// whole body at once. Each run also reports the heap the decoded value holds.
//
// The JSON cases decode a REST listing of 10,000 bugs shaped like the recorded /rest/bug
// replies (made here, so they need no BENCH_REPLY), whole, through the listing's filter, and
// through a filter that keeps no member of a bug: the floor of simdjson's passes over the text.
//
// `decode_bench --expat-seconds FILE...` instead prints, as JSON, the CPU seconds expat alone
// needs for those files in pieces (best of three): the floor beside a listing's CPU time.
// `decode_bench --once ours|filtered|expat|json|json-filtered FILE|builtin` decodes the file
// (or the built-in JSON listing) once in run_once(), for counting its instructions with
// callgrind.
#include "json_decode.h"
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

// {"bugs":[...]} as bugzilla.mozilla.org answers a listing with include_fields and description.
std::string json_listing(int count) {
  std::string body = "{\"bugs\":[";
  for (int id = 1; id <= count; ++id) {
    const std::string n = std::to_string(id);
    if (id > 1) body += ',';
    body += "{\"assigned_to\":\"alice@example.com\",\"resolution\":\"\",\"assigned_to_detail\":"
            "{\"id\":3,\"email\":\"alice@example.com\",\"name\":\"alice@example.com\","
            "\"real_name\":\"Alice Example\",\"nick\":\"alice\"},\"is_open\":true,"
            "\"creator_detail\":{\"id\":1,\"email\":\"admin@example.com\",\"name\":"
            "\"admin@example.com\",\"real_name\":\"Admin User\",\"nick\":\"admin\"},"
            "\"summary\":\"Save button label is wrong in dialog " + n + "\",\"description\":"
            "\"The Save button says 'Sav'. It should say 'Save'. Seen in build " + n +
            " on the caf\u00e9 machine.\\nSteps: open, look.\",\"status\":\"CONFIRMED\","
            "\"severity\":\"normal\",\"id\":" + n + ",\"dupe_of\":null,\"alias\":null,"
            "\"last_change_time\":\"2026-12-09T00:19:51Z\",\"creator\":\"admin@example.com\"}";
  }
  return body + "]}";
}

const std::string& json_reply() {
  static const std::string body = json_listing(10000);
  return body;
}

XmlRpc::XmlRpcFilter json_listing_filter() {
  using Step = XmlRpc::XmlRpcFilter::Step;
  XmlRpc::XmlRpcFilter filter;
  for (const char* member : {"id", "summary", "severity", "status", "description"}) {
    filter.keep({Step::member("bugs"), Step::anyElement(), Step::member(member)});
  }
  return filter;
}

// Pieces as libcurl hands them over, collected and decoded at the end, as executeRest does.
void decode_json_listing(benchmark::State& state, const XmlRpc::XmlRpcFilter* filter) {
  const std::string& bytes = json_reply();
  size_t value_bytes = 0;
  for (auto _ : state) {
    const size_t before = heap_in_use();
    XmlRpc::XmlRpcValue result;
    XmlRpc::detail::JsonResponse response(result, filter);
    response.expect(bytes.size());
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
      response.feed(bytes.data() + at, bytes.size() - at < kPiece ? bytes.size() - at : kPiece);
    }
    std::string error;
    if (!response.finish(error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    value_bytes = heap_in_use() - before;
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["value_bytes"] = static_cast<double>(value_bytes);
  state.counters["reply_bytes"] = static_cast<double>(bytes.size());
}

void DecodeJsonListing(benchmark::State& state) { decode_json_listing(state, nullptr); }

void DecodeJsonListingFilter(benchmark::State& state) {
  const XmlRpc::XmlRpcFilter filter = json_listing_filter();
  decode_json_listing(state, &filter);
}

void DecodeJsonListingNoMember(benchmark::State& state) {
  using Step = XmlRpc::XmlRpcFilter::Step;
  XmlRpc::XmlRpcFilter filter;
  filter.keep({Step::member("bugs"), Step::anyElement(), Step::member("no such member")});
  decode_json_listing(state, &filter);
}

BENCHMARK(DecodeJsonListing)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(DecodeJsonListingFilter)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(DecodeJsonListingNoMember)->Unit(benchmark::kMillisecond)->MinTime(1.0);
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
  if (kind == "json" || kind == "json-filtered") {
    const XmlRpc::XmlRpcFilter listing = json_listing_filter();
    XmlRpc::XmlRpcValue result;
    XmlRpc::detail::JsonResponse response(result, kind == "json" ? nullptr : &listing);
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
      response.feed(bytes.data() + at, std::min(kPiece, bytes.size() - at));
    }
    std::string error;
    return response.finish(error);
  }
  XmlRpc::XmlRpcValue result;
  std::string error;
  return decode_pieces(bytes, kind == "filtered" ? &filter : nullptr, result, error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--expat-seconds") return expat_seconds(argc - 2, argv + 2);
  if (argc == 4 && std::string(argv[1]) == "--once") {
    const XmlRpc::XmlRpcFilter filter = listing_filter();
    // "builtin": the bugzilla.mozilla.org-shaped listing the JSON cases decode.
    const std::string bytes =
        std::string(argv[3]) == "builtin" ? json_reply() : read_file(argv[3]);
    return run_once(argv[2], bytes, filter) ? 0 : 1;
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
