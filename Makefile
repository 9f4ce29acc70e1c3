# SPDX-License-Identifier: MIT
# The two commands of the README. Each installs what is missing and builds first.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
ifdef CI
CMAKE_FLAGS += -DDRAINWATCH_WERROR=ON
endif

SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps deps-run build build-programs test run bench clean test-sanitize lint fuzz

all: build

# Everything: building, running, testing, sanitizing, linting.
deps:
	./scripts/install-deps.sh

# What building and running the programs needs, no more.
deps-run:
	./scripts/install-deps.sh --run

build: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DDRAINWATCH_TESTS=ON
	cmake --build $(BUILD)

# The two programs alone: no tests, benchmarks, manual page or changelog.
build-programs: deps-run
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DDRAINWATCH_TESTS=OFF
	cmake --build $(BUILD) --target drainwatch drainwatch-desktop

test: build
	cd $(BUILD) && ctest --output-on-failure --timeout 300

run: build-programs
	./scripts/run.sh $(BUILD)/src/terminal/drainwatch

bench: build
	$(BUILD)/bench/drainwatch-bench
	$(BUILD)/bench/drainwatch-sleep-bench
	$(BUILD)/bench/drainwatch-graph-bench
	$(BUILD)/bench/drainwatch-history-bench
	$(BUILD)/bench/drainwatch-model-bench
	$(BUILD)/bench/drainwatch-activity-bench
	./bench/footprint $(BUILD)/src/terminal/drainwatch

# The whole suite again, built with clang under ASan and UBSan; it also
# replays the fuzz corpora.
test-sanitize: deps
	./scripts/test-sanitize.sh $(SANITIZE_BUILD) $(CMAKE_FLAGS)

# clang-tidy and clang-format over src/, tests/ and fuzz/; changes nothing.
lint: deps
	./scripts/lint.sh $(SANITIZE_BUILD)

# Each fuzz target for FUZZ_SECONDS, one after another.
fuzz: deps
	./scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(CMAKE_FLAGS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
