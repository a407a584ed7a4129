# Quick start: `make demo` runs the main job against a local Bugzilla test server,
# `make test` builds and runs every test (plain and AddressSanitizer/UBSan builds) and the
# concurrency test in a ThreadSanitizer build.
JOBS ?= $(shell nproc)
BUILD ?= build
SAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan

.PHONY: all deps build build-asan test test-plain test-asan test-tsan demo valgrind package bench fuzz clean

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUGZILLA_BENCH=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

$(SAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DBUGZILLA_SANITIZE=ON

build-asan: deps $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer cannot share a build with AddressSanitizer, so the concurrency test gets a
# build of its own; only that test and what it loads are built there.
$(TSAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUGZILLA_TSAN=ON

TSAN_SUPPRESSIONS = $(if $(wildcard testing/tsan.supp), suppressions=$(CURDIR)/testing/tsan.supp)

test-tsan: deps $(TSAN_BUILD)/CMakeCache.txt
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target plugin_concurrency_test
	cd $(TSAN_BUILD) && \
	  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1$(TSAN_SUPPRESSIONS)" \
	  ctest --output-on-failure -R '[Cc]oncurrency'

test: test-plain test-asan test-tsan

demo: build
	testing/demo.sh $(BUILD)

valgrind: build
	testing/valgrind_host.sh $(BUILD)

# The Debian package (bugzilla-issue-plugin_VERSION_ARCH.deb in $(BUILD)), checked by lintian.
package: build
	rm -f $(BUILD)/bugzilla-issue-plugin_*.deb
	cd $(BUILD) && cpack
	lintian --fail-on error $(BUILD)/bugzilla-issue-plugin_*.deb

BENCH_BUILD ?= build-bench
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUGZILLA_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target Bugzilla listing_bench decode_bench
	python3 bench/run_benchmarks.py $(BENCH_BUILD)

# Runs every libFuzzer target for FUZZ_SECONDS (default 300) in a clang build of its own.
fuzz: deps
	fuzz/run_fuzzers.sh

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD)
