# The two commands of the README. Each installs what is missing and builds first.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
ifdef CI
CMAKE_FLAGS += -DDRAINWATCH_WERROR=ON
endif

.PHONY: all deps build test run bench clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure --timeout 300

run: build
	./scripts/run.sh $(BUILD)/src/app/drainwatch

bench: build
	$(BUILD)/bench/drainwatch-bench
	$(BUILD)/bench/drainwatch-sleep-bench
	./bench/footprint $(BUILD)/src/app/drainwatch

clean:
	rm -rf $(BUILD)
