# The two commands of a new user: `make run` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps

# Ninja, whose output is one line that updates in place. A build folder made
# earlier with another generator is configured afresh.
configure: deps
	@grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$$' $(BUILD)/CMakeCache.txt || \
		rm -rf $(BUILD)/CMakeCache.txt $(BUILD)/CMakeFiles
	@cmake -G Ninja -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# Only Pellim, pellim-guard and pellim-consent, which are one product (Pellim
# runs itself under the pellim-guard beside it), not the tests and
# benchmarks.
run: configure
	@cmake --build $(BUILD) --target pellim pellim-guard pellim-consent
	@$(BUILD)/pellim

test: build
	@scripts/ensure-journald || true
	@ctest --test-dir $(BUILD) --output-on-failure -j $(shell nproc)

bench: build
	@scripts/run-benchmarks $(BUILD)

clean:
	rm -rf $(BUILD)
