# Set-up, build and test of corvane on a Debian machine.
#   make check   installs what is missing, builds with sanitizers, runs the unit
#                tests, then the slow ones (huge and deep trees) on their own
#   make werror  builds everything, tests included, in Release with warnings
#                as errors
#   make demo    builds corvane and runs it on the bundled example product
#   make install PREFIX=/usr/local
#   make bench   times the programs against find and bfs, then the input
#                shapes (BENCH_SHAPES=no leaves the shapes out)
#   make bench-shapes   only the input shapes

PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CHECK_BUILD := build/check
RELEASE_BUILD := build/release
WERROR_BUILD := build/werror

# Debian packages the build, the tests and the external commands need.
PACKAGES := cmake g++ make bison libgtest-dev libgmock-dev googletest libbenchmark-dev scdoc mandoc \
            groff-base ncompress gzip bzip2 binutils ksh libxml2-utils time
# What the benchmark needs besides: bfs is timed beside find.
BENCH_PACKAGES := bfs
BENCH_SHAPES ?= yes

.PHONY: all deps bench-deps check werror demo release install bench bench-build bench-shapes clean

all: release

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

check: deps
	cmake -S . -B $(CHECK_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON
	cmake --build $(CHECK_BUILD) -j $(JOBS)
	cd $(CHECK_BUILD) && ctest --output-on-failure -j $(JOBS) -LE slow
	cd $(CHECK_BUILD) && ctest --output-on-failure -j $(JOBS) -L slow

werror: deps
	cmake -S . -B $(WERROR_BUILD) -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON
	cmake --build $(WERROR_BUILD) -j $(JOBS)

release: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

demo: release
	sh examples/demo.sh $(RELEASE_BUILD)/bin

install: release
	cmake --install $(RELEASE_BUILD) --prefix $(PREFIX)

bench-deps: deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(BENCH_PACKAGES)"

bench-build: bench-deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF -DCORVANE_BENCH=ON
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

bench: bench-build
	sh bench/run.sh $(RELEASE_BUILD)/bin
	@if [ "$(BENCH_SHAPES)" != no ]; then sh bench/shapes.sh $(RELEASE_BUILD)/bin; fi

bench-shapes: bench-build
	sh bench/shapes.sh $(RELEASE_BUILD)/bin

clean:
	rm -rf build
