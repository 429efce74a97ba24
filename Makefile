# The two commands of the README do all the set-up: missing Debian packages are
# installed by scripts/install-deps, then CMake configures and builds.
BUILD      ?= build
RELEASE_BUILD ?= build-release
CLANG_BUILD ?= build-clang
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
WIN_BUILD  ?= build-win64
WIN_TEST_BUILD ?= build-win64-test
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKF_BUILD_TESTS=ON -DKF_BUILD_BENCH=ON
# The plug-in and the render tool alone: what the demo and an install need.
CORE_ARGS  ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKF_BUILD_TESTS=OFF -DKF_BUILD_BENCH=OFF
# The -O3 release build (test-release); the Windows renders are compared with its plug-in.
RELEASE_ARGS ?= -DCMAKE_BUILD_TYPE=Release -DKF_WERROR=ON -DKF_BUILD_BENCH=ON
# The 64-bit Windows build, cross-compiled with MinGW-w64 (cmake/mingw-w64.cmake).
WIN_ARGS   ?= -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DKF_BUILD_BENCH=OFF
# make install: per user by default (bundle in ~/.vst/Kestrafone, the tools in ~/.local/bin);
# PREFIX=/usr/local installs system-wide (bundle in $(PREFIX)/lib/lxvst/Kestrafone).
PREFIX     ?= $(HOME)/.local

.PHONY: all deps deps-core deps-windows core build windows test test-fast test-release test-clang test-asan test-tsan test-fuzz test-windows demo bench install uninstall format format-check tidy clean

all: build

# Everything the tests and benchmarks need as well (a real host, sanitizers, clang, ...).
deps:
	@scripts/install-deps --test

deps-core:
	@scripts/install-deps

deps-windows:
	@scripts/install-deps --windows

core: deps-core
	cmake -S . -B $(BUILD) $(CORE_ARGS)
	cmake --build $(BUILD) -j$(JOBS) --target kestrafone kestrafone-render

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)
	cmake --build $(BUILD) -j$(JOBS)

# The download for Windows users: dist/Kestrafone-<version>-win64.zip.
windows: deps-windows
	cmake -S . -B $(WIN_BUILD) $(WIN_ARGS) -DKF_BUILD_TESTS=OFF -DKF_DIST_DIR=$(CURDIR)/dist
	cmake --build $(WIN_BUILD) -j$(JOBS)

# The whole suite, with warnings as errors: the code format, each fuzz target for a bounded
# time, the thread hand-shake tests under ThreadSanitizer, every test under ASan + UBSan in a
# lightly optimised build, a clang build of everything, the Windows build's tests under wine,
# and last every test in an -O3 release
# build, whose summary closes the output. Optimiser-only faults and one compiler's warnings
# show up here, not in a user's build.
test: format-check test-fuzz test-tsan test-asan test-clang test-windows test-release

# The suite in the developer build (the one `make build` makes).
test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-release: deps
	cmake -S . -B $(RELEASE_BUILD) $(RELEASE_ARGS)
	cmake --build $(RELEASE_BUILD) -j$(JOBS)
	ctest --test-dir $(RELEASE_BUILD) --output-on-failure -j$(JOBS)

test-clang: deps
	cmake -S . -B $(CLANG_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKF_WERROR=ON
	cmake --build $(CLANG_BUILD) -j$(JOBS)

# Real-peer tests load our library into programs that are not instrumented, so the
# sanitizer build leaves them to the normal build.
# Sanitizer builds skip debug information and most optimisation to build quickly.
SAN_ARGS ?= -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DKF_BUILD_BENCH=OFF

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(SAN_ARGS) -DKF_SANITIZE=ON -DKF_WERROR=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) -LE realpeer

# The loading hand-shakes between the audio thread and loaders, whole instances under host
# automation, notes, learned controllers and state loads, and the editor idling in a real
# window and off-screen beside the audio thread.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) $(SAN_ARGS) -DKF_TSAN=ON -DKF_WERROR=ON
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target engine_tests sampler_tests state_tests platform_tests plugin_threads_tests \
	  gui_tests editor_tests editor_bench_test editor_threads_tests
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -j$(JOBS) \
	  -R 'Thread|Handshake|Loading|Concurrent|Bitmaps|EditorInAWindow'

# The Windows build with its tests, run under wine in a prefix inside the build folder
# (made once, 45 to 90 s), and the checks of its DLL and its zip. Its renders are compared
# with the release build's plug-in and tool, which are built first.
test-windows: deps
	cmake -S . -B $(RELEASE_BUILD) $(RELEASE_ARGS)
	cmake --build $(RELEASE_BUILD) -j$(JOBS) --target kestrafone kestrafone-render
	cmake -S . -B $(WIN_TEST_BUILD) $(WIN_ARGS) -DKF_BUILD_TESTS=ON -DKF_WERROR=ON \
	  -DKF_LINUX_BUILD=$(CURDIR)/$(RELEASE_BUILD)
	cmake --build $(WIN_TEST_BUILD) -j$(JOBS)
	ctest --test-dir $(WIN_TEST_BUILD) --output-on-failure -j$(JOBS)

test-fuzz: deps
	FUZZ_SECONDS=$${FUZZ_SECONDS:-20} scripts/run-fuzzers

demo: core
	@scripts/render-demo $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

install: core
	@scripts/install $(BUILD) "$(PREFIX)"

# Needs no build: the installed bundle lists what was installed.
uninstall:
	@scripts/install --uninstall "$(PREFIX)"

# The C++ sources only: clang-format reads any other file as C++ and mangles it.
FORMAT_FILES = $$(git ls-files '*.cpp' '*.h')

format:
	clang-format -i $(FORMAT_FILES)

format-check: deps
	clang-format --dry-run --Werror $(FORMAT_FILES)

# Opt-in static analysis (.clang-tidy) of the C++ files changed since the branch left main.
tidy: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null
	JOBS=$(JOBS) scripts/tidy-changed $(BUILD)

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(CLANG_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-fuzz $(WIN_BUILD) $(WIN_TEST_BUILD) dist
