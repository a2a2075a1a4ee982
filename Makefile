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
