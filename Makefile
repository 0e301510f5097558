# Front door: `make run` and `make test` (see README.md).
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CTEST_ARGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench package format clean check-sanitizers fuzz

all: build

deps:
	@scripts/install-deps

# Every tree made here also builds brevlin-testing, the executable with the tests' control socket,
# beside `brevlin`: `make test` needs it, while `make run` and `make package` use `brevlin`, which
# never has it. Both live in one tree, so alternating the commands rebuilds nothing. A tree
# configured before the option existed gets it turned on.
TEST_CONTROL_ON = grep -q '^BREVLIN_TEST_CONTROL:BOOL=ON' $(1)/CMakeCache.txt 2>/dev/null || \
	cmake -DBREVLIN_TEST_CONTROL=ON $(1) >/dev/null
configure: deps
	@if [ ! -f $(BUILD)/build.ninja ]; then \
		cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DBREVLIN_TEST_CONTROL=ON \
			-DCMAKE_CXX_COMPILER_LAUNCHER=$$(command -v ccache || true) >/dev/null; \
	fi
	@$(call TEST_CONTROL_ON,$(BUILD))

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-app $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# A Debian package in $(BUILD): install it with `sudo apt install ./$(BUILD)/brevlin_*.deb`.
package: build
	@cd $(BUILD) && cpack -G DEB

bench: build
	@scripts/run-benchmarks $(BUILD)

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer, leak detection on.
SANITIZER_BUILD ?= build-sanitizers
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
check-sanitizers: deps
	@if [ ! -f $(SANITIZER_BUILD)/build.ninja ]; then \
		cmake -S . -B $(SANITIZER_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBREVLIN_SANITIZE=ON \
			-DBREVLIN_TEST_CONTROL=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
			-DCMAKE_CXX_COMPILER_LAUNCHER=$$(command -v ccache || true) >/dev/null; \
	fi
	@$(call TEST_CONTROL_ON,$(SANITIZER_BUILD))
	@cmake --build $(SANITIZER_BUILD) -j $(JOBS)
	@cd $(SANITIZER_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The configuration decoder's libFuzzer target, built with clang; scripts/run-fuzzer runs it.
FUZZ_BUILD ?= build-fuzz
fuzz: deps
	@if [ ! -f $(FUZZ_BUILD)/build.ninja ]; then \
		cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBREVLIN_FUZZ=ON \
			-DCMAKE_CXX_COMPILER=clang++ \
			-DCMAKE_CXX_COMPILER_LAUNCHER=$$(command -v ccache || true) >/dev/null; \
	fi
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target config_fuzzer

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(SANITIZER_BUILD) $(FUZZ_BUILD)
