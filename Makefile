# The two commands of the quick start, and the pieces they are made of. Needs make and git
# (a bare Debian 12: apt-get install -y make git); each command installs the rest itself.
#   make demo [OUT=dir]   build the sample job and the morvi tool, run the job into OUT
#   make demo-served      the sample job through a reporter server, into OUT/served
#   make test             build everything and run every test
BUILD ?= build
OUT ?= demo-out
CMAKE_FLAGS ?=
# Paths reach the recipes through the environment, so any character in them is safe.
export BUILD OUT CMAKE_FLAGS

.PHONY: setup configure-demo configure build demo demo-served test clean

setup:
	@bash scripts/setup.sh test

# A fresh build tree for the demo leaves tests and benchmarks out, so it needs neither
# GoogleTest nor Python; an existing one is kept as it is.
configure-demo:
	@bash scripts/setup.sh demo
	@[ -f "$$BUILD/CMakeCache.txt" ] || cmake -S . -B "$$BUILD" -G Ninja \
	  -DMORVI_BUILD_TESTS=OFF -DMORVI_BUILD_BENCH=OFF $$CMAKE_FLAGS >/dev/null

configure: setup
	@cmake -S . -B "$$BUILD" -G Ninja -DMORVI_BUILD_TESTS=ON -DMORVI_BUILD_BENCH=ON \
	  $$CMAKE_FLAGS >/dev/null

build: configure
	@cmake --build "$$BUILD"

demo: configure-demo
	@cmake --build "$$BUILD" --target sample_job morvi
	@"$$BUILD/examples/sample_job" "$$OUT"

# Apart from demo: it starts and kills background processes, which the quick start need not.
demo-served: configure-demo
	@cmake --build "$$BUILD" --target sample_job morvi
	@bash scripts/demo_served.sh "$$BUILD" "$$OUT"

test: build
	@cd "$$BUILD" && ctest --output-on-failure -j2

clean:
	@rm -rf -- "$$BUILD" "$$OUT"
