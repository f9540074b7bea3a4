# The two commands of the README, plus what else CI runs.
#   make run        install, build, and run the host capturing the test source
#   make test       install, build, and run every test (PRESET=asan or tsan: under a sanitizer)
#   make test-load  the load test: four readers, 2560x1440 at 240 frames per second, 30 s
#   make fuzz       build the fuzz target with clang and run it for FUZZ_SECONDS (60)
PRESET ?= default
BUILD := build/$(PRESET)
RUN_ARGS ?=

.PHONY: all deps configure build run test test-load fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake --preset $(PRESET)

build: configure
	@cmake --build --preset $(PRESET)

run: build
	@scripts/run-host $(BUILD) $(RUN_ARGS)

test: build
	@ctest --preset $(PRESET)

test-load:
	@$(MAKE) --no-print-directory build PRESET=default
	@scripts/load-test

fuzz:
	@scripts/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build
