# Quick start: `make demo` and `make test`. Every target installs missing Debian packages first.
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=
DEMO_DB := $(BUILD)/demo/demo.db

.PHONY: all deps configure build test demo demo-reset clean

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

demo: build $(DEMO_DB)
	@echo "Demo database: $(abspath $(DEMO_DB))"
	@echo "Connection string: Provider=SQLite;Data Source=$(abspath $(DEMO_DB))"

demo-reset: build
	@rm -f $(DEMO_DB)
	@$(MAKE) --no-print-directory demo

clean:
	@rm -rf $(BUILD)
