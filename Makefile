# Quick start: `make demo` and `make test`. Every target installs missing Debian packages first.
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=
DEMO_DB := $(BUILD)/demo/demo.db

.PHONY: all deps configure build test test-asan test-tsan fuzz bench fidelity demo demo-reset clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

configure: $(BUILD)/build.ninja

build: deps configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

$(DEMO_DB): | build
	@mkdir -p $(dir $(DEMO_DB))
	@$(BUILD)/tools/demodb/dupsweep-demodb --out $(DEMO_DB)

DEMO_REGISTRY := $(abspath $(BUILD)/demo/registry.reg)
DEMO_HOST     := $(BUILD)/tools/host/dupsweep-host
DEMO_MODULE   := $(abspath $(BUILD)/src/entry/libComDupsweepDM.so)
DEMO_CONN     := Provider=SQLite;Data Source=$(abspath $(DEMO_DB))

# Registers the component in a registry file under the build tree, creates it by its ProgID
# through the host program and calls Dupsweep on the demo database. Needs a display
# (or run it as `xvfb-run -a make demo`).
demo: build $(DEMO_DB)
	@echo "Demo database: $(abspath $(DEMO_DB))"
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	  echo "make demo: no display to open the dialog on; set DISPLAY or run: xvfb-run -a make demo" >&2; exit 1; fi
	@DUPSWEEP_REGISTRY=$(DEMO_REGISTRY) $(DEMO_HOST) register $(DEMO_MODULE)
	@DUPSWEEP_REGISTRY=$(DEMO_REGISTRY) $(DEMO_HOST) call --conn "$(DEMO_CONN)" \
	  --unitcls 01 --task T01 --level 1

demo-reset: build
	@rm -f $(DEMO_DB)
	@$(MAKE) --no-print-directory demo

clean:
	@rm -rf $(BUILD)

# ---- Sanitizers ---------------------------------------------------------------------------------
# `make test-asan`: the whole tree built with AddressSanitizer and UndefinedBehaviorSanitizer in
# $(ASAN_BUILD), then the whole test suite run there. Every report fails the run: memory errors,
# undefined behaviour and leaks in our code; leaks inside system libraries are suppressed by
# tests/sanitizers/lsan.supp.
ASAN_BUILD ?= build-asan
SANITIZER_ENV := \
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:print_stacktrace=1:abort_on_error=0:detect_stack_use_after_return=1 \
  LSAN_OPTIONS=suppressions=$(abspath tests/sanitizers/lsan.supp):print_suppressions=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

$(ASAN_BUILD)/build.ninja: | deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DDUPSWEEP_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null

# (The build runs under the sanitizer options too: test discovery runs every test program.)
test-asan: deps $(ASAN_BUILD)/build.ninja
	@$(SANITIZER_ENV) cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && $(SANITIZER_ENV) QT_QPA_PLATFORM=offscreen \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

# ---- Fuzzing ------------------------------------------------------------------------------------
# `make fuzz`: the libFuzzer targets of tests/fuzz built with clang in $(FUZZ_BUILD), then each
# run for FUZZ_SECONDS over a scratch copy of its seed corpus (the committed corpus never grows).
# A crash stops the run; its input is left in $(FUZZ_BUILD)/findings/<target>/.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := connection_string registry scheme workbook text invoke

$(FUZZ_BUILD)/build.ninja: | deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DDUPSWEEP_FUZZ=ON \
	  -DDUPSWEEP_SANITIZE=ON -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
	  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link $(CMAKE_FLAGS) >/dev/null

fuzz: deps $(FUZZ_BUILD)/build.ninja
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	@set -e; for t in $(FUZZ_TARGETS); do \
	  rm -rf $(FUZZ_BUILD)/corpus/$$t; mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings/$$t; \
	  cp tests/fuzz/corpus/$$t/* $(FUZZ_BUILD)/corpus/$$t/; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  dict=; [ -f tests/fuzz/dict/$$t.dict ] && dict=-dict=tests/fuzz/dict/$$t.dict; \
	  $(SANITIZER_ENV) QT_QPA_PLATFORM=offscreen nice $(FUZZ_BUILD)/tests/fuzz/fuzz_$$t \
	    -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/findings/$$t/ $$dict $(FUZZ_BUILD)/corpus/$$t; \
	done

# ---- Benchmarks ---------------------------------------------------------------------------------
# `make bench`: the table of speed and memory figures (bench/bench_run.cpp). The scaled databases
# are written once into $(BENCH_DATA) and kept between runs.
BENCH_DATA ?= $(BUILD)/bench-data
BENCH_RUNS ?= 5

bench: build
	@$(BUILD)/bench/dupsweep-bench --data $(BENCH_DATA) --runs $(BENCH_RUNS) \
	  --module $(BUILD)/src/entry/libComDupsweepDM.so

# ---- Workbook fidelity ---------------------------------------------------------------------------
# `make fidelity`: the workbook reader against LibreOffice Calc's displayed text, cell by cell, on
# the corpus in ../shared/workbooks (beside the checkout) when it is there. Not part of `make test`.
REPO_ROOT := $(abspath $(dir $(lastword $(MAKEFILE_LIST))))
WORKBOOKS ?= $(REPO_ROOT)/../shared/workbooks

fidelity: build
	@if [ -x "$(WORKBOOKS)/check" ]; then \
	  "$(WORKBOOKS)/check" $(BUILD)/tools/workbook/dupsweep-workbook; \
	else \
	  echo "fidelity: no workbook corpus at $(WORKBOOKS); nothing to check"; \
	fi

# ---- ThreadSanitizer ----------------------------------------------------------------------------
# `make test-tsan`: the server's counts under several threads, built with ThreadSanitizer.
TSAN_BUILD ?= build-tsan

$(TSAN_BUILD)/build.ninja: | deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DDUPSWEEP_TSAN=ON $(CMAKE_FLAGS) >/dev/null

test-tsan: deps $(TSAN_BUILD)/build.ninja
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target com_threads_test ComDupsweepDM_test
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R ServerThreads
