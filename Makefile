# The two commands of the quick start, and the pieces they are made of.
#   make demo [OUT=dir]   run the sample job, writing its documents into OUT (demo-out/)
#   make test             build everything and run every test
BUILD ?= build
OUT ?= demo-out
CMAKE_FLAGS ?=

.PHONY: setup configure build demo test clean

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

demo: build
	@$(BUILD)/examples/sample_job $(OUT)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j2

clean:
	@rm -rf $(BUILD) $(OUT)
