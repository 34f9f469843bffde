# The front door: every target installs what is missing, then builds.
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)
BUILD := build
ASAN_BUILD := build-asan
BENCH_BUILD := build-bench
FUZZ_BUILD := build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all setup configure build test asan bench fuzz demo format clean

all: build

setup:
	@scripts/bootstrap.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: setup
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DHX_SANITIZE=ON \
	  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

bench: setup
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DHX_BUILD_TESTS=OFF \
	  -DHX_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench/*; do [ -x "$$b" ] && "$$b" || exit 1; done

# Builds the libFuzzer targets and runs each for FUZZ_SECONDS over its corpus.
fuzz: setup
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHX_FUZZ=ON \
	  -DHX_BUILD_TESTS=OFF -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for f in $(FUZZ_BUILD)/fuzz/*_fuzzer; do \
	  [ -x "$$f" ] || continue; \
	  name=$$(basename $$f _fuzzer); mkdir -p fuzz-out/$$name; \
	  "$$f" -max_total_time=$(FUZZ_SECONDS) -timeout=10 fuzz-out/$$name fuzz/corpus/$$name || exit 1; \
	done

# Runs the shipped scenario: the alarm process against simulated siblings.
# Builds only the programs it runs, not the tests.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target halcyx-sim halcyx-alarm
	@$(BUILD)/bin/halcyx-sim tools/sim/scenarios/demo.json

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
