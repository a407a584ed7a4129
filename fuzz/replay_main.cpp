// Runs a fuzz target over stored inputs without libFuzzer, so that the seed corpora and every
// crash reproducer run as ordinary tests in any build. Arguments: corpus directories or files.
// Fails when an argument is missing or holds no input, so a mistyped path cannot pass.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_in(const fs::path& argument) {
  std::vector<fs::path> inputs;
  if (fs::is_regular_file(argument)) {
    inputs.push_back(argument);
  } else if (fs::is_directory(argument)) {
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(argument)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
  }
  return inputs;
}

bool run_one(const fs::path& input) {
  std::ifstream stream(input, std::ios::binary);
  if (!stream) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(stream)),
                                std::istreambuf_iterator<char>());
  // A heap copy of the exact size, so that AddressSanitizer sees any read past the end.
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.string().c_str(), copy.size());
  static const uint8_t kNothing = 0;  // libFuzzer never passes a null pointer, even for no bytes
  LLVMFuzzerTestOneInput(copy.empty() ? &kNothing : copy.data(), copy.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::vector<fs::path> inputs = inputs_in(argv[i]);
    if (inputs.empty()) {
      std::fprintf(stderr, "%s: no inputs\n", argv[i]);
      return 1;
    }
    for (const fs::path& input : inputs) {
      if (!run_one(input)) {
        std::fprintf(stderr, "%s: cannot read\n", input.string().c_str());
        return 1;
      }
      ++replayed;
    }
  }
  std::printf("%zu inputs replayed\n", replayed);
  return 0;
}
