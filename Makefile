# The two commands of the README, plus the sanitizer builds CI runs.
#   make run    install, build, and run the host capturing the test source
#   make test   install, build, and run every test
PRESET ?= default
BUILD := build/$(PRESET)
RUN_ARGS ?=

.PHONY: all deps configure build run test clean

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

clean:
	rm -rf build
