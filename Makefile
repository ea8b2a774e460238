# Thin wrapper around CMake. `make run` and `make test` install whatever is
# missing from Debian first.
BUILD    ?= build
SANITIZE ?=
JOBS     ?= $(shell nproc)
comma    := ,
# Warnings fail the build in CI (CI=true); WERROR=ON asks for it anywhere.
WERROR   ?= $(if $(CI),ON,OFF)
ifneq ($(SANITIZE),)
BUILD := build-$(subst $(comma),-,$(SANITIZE))
endif

.PHONY: all deps configure build run demo test package bench soak fuzz coverage format clean

all: build

deps:
	scripts/install-deps

configure:
	cmake -S . -B $(BUILD) -DSANITIZE="$(SANITIZE)" -DLOCALSERVICE_WERROR=$(WERROR) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target localservice
	G_SLICE=always-malloc $(BUILD)/app/localservice

# The video wall demonstration page with a test camera and device:
# open http://127.0.0.1:8080/ (scripts/run-demo).
demo: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target localservice camera-sim device-sim
	scripts/run-demo $(BUILD)

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The Debian package, written into the build folder.
package: deps build
	cmake --build $(BUILD) --target package

bench: deps
	scripts/install-deps bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build-bench -j $(JOBS)
	bench/run build-bench

# The reliability script: floods, descriptor limit, slow body and a mixed
# soak of SOAK_SECONDS (default 300). Not part of make test.
soak: deps
	scripts/install-deps bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build-bench -j $(JOBS)
	bench/reliability.sh build-bench

# libFuzzer targets, built with clang; each runs FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz:
	scripts/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DLOCALSERVICE_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	scripts/run-fuzz build-fuzz $(FUZZ_SECONDS)

# Line coverage of make test, per top-level folder (scripts/coverage-summary).
coverage: deps
	scripts/install-deps coverage
	cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DLOCALSERVICE_COVERAGE=ON >/dev/null
	cmake --build build-coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	cd build-coverage && ctest -j $(JOBS) || true
	scripts/coverage-summary build-coverage

# Lays out every C and C++ file as .clang-format says.
format:
	scripts/install-deps format
	git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-*
