# Front door: `make run` and `make test` (see README.md).
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CTEST_ARGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench package format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@if [ ! -f $(BUILD)/build.ninja ]; then \
		cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
			-DCMAKE_CXX_COMPILER_LAUNCHER=$$(command -v ccache || true) >/dev/null; \
	fi

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

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
