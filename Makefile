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
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target plugin_concurrency_test plugin_session_concurrency_test
	cd $(TSAN_BUILD) && \
	  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1$(TSAN_SUPPRESSIONS)" \
	  ctest --output-on-failure -R '[Cc]oncurrency'

test: test-plain test-asan test-tsan

demo: deps $(BUILD)/CMakeCache.txt
	# Only what the demo runs: the plug-in, its library and the host.
	cmake --build $(BUILD) -j $(JOBS) --target Bugzilla issue-plugin-host
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
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target Bugzilla listing_bench decode_bench users_bench
	python3 bench/run_benchmarks.py $(BENCH_BUILD)

# Runs every libFuzzer target for FUZZ_SECONDS (default 300) in a clang build of its own.
fuzz: deps
	fuzz/run_fuzzers.sh

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD)

# Windows: Bugzilla.dll, XmlRpc.dll, issue-plugin-host.exe and the tests cross-built with
# mingw-w64 in $(WIN_BUILD); libcurl and expat come from Debian's source packages
# (tools/windows-deps.sh), the tests and the demo run under wine (tools/with-wine.sh).
WIN_BUILD ?= build-windows
CCACHE := $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: windows-deps windows-configure windows test-windows demo-windows

windows-deps:
	@tools/install-deps.sh --windows

windows-configure: windows-deps
	prefix=$$(JOBS=$(JOBS) tools/windows-deps.sh) && \
	  cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	    -DBUGZILLA_WINDOWS_PREFIX="$$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CCACHE)

# The install folder $(WIN_BUILD)/dist (the same install rules as on Linux), checked for imports
# and exports, and its zip from CPack.
windows: windows-configure
	cmake --build $(WIN_BUILD) -j $(JOBS) --target Bugzilla XmlRpc issue-plugin-host
	rm -rf $(WIN_BUILD)/dist
	cmake --install $(WIN_BUILD) --prefix $(WIN_BUILD)/dist --strip
	tools/check-windows-dist.sh $(WIN_BUILD)/dist IssuePluginLoader/include/issue_plugin_exports.h
	cd $(WIN_BUILD) && cpack -G ZIP

# The Windows test suites under wine, against the python test servers on this machine. A case
# whose program wine failed to start (it fails at once, with no output) gets one more run.
test-windows: windows
	cmake --build $(WIN_BUILD) -j $(JOBS)
	tools/with-wine.sh $(WIN_BUILD) ctest --test-dir $(WIN_BUILD) --output-on-failure -j $(JOBS) \
	  --repeat until-pass:2

# The demo walk-through with issue-plugin-host.exe and Bugzilla.dll under wine.
demo-windows: windows
	tools/with-wine.sh $(WIN_BUILD) testing/demo.sh $(WIN_BUILD)
