# The two commands of the README do all the set-up: missing Debian packages are
# installed by scripts/install-deps, then CMake configures and builds.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build test test-fast test-asan demo bench install format-check clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)
	cmake --build $(BUILD) -j$(JOBS)

# The whole suite: the normal build, then every test again under ASan + UBSan.
test: test-fast test-asan

test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# Real-peer tests load our library into programs that are not instrumented, so the
# sanitizer build leaves them to the normal build.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_ARGS) -DKF_SANITIZE=ON -DKF_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) -LE realpeer

demo: build
	@scripts/render-demo $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

install: build
	cmake --install $(BUILD)

format-check:
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
