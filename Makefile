# Thin wrapper around CMake. `make run` and `make test` install whatever is
# missing from Debian first.
BUILD    ?= build
SANITIZE ?=
JOBS     ?= $(shell nproc)
comma    := ,
ifneq ($(SANITIZE),)
BUILD := build-$(subst $(comma),-,$(SANITIZE))
endif

.PHONY: all deps configure build run test bench fuzz clean

all: build

deps:
	scripts/install-deps

configure:
	cmake -S . -B $(BUILD) -DSANITIZE="$(SANITIZE)" >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target localservice
	$(BUILD)/app/localservice

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: deps
	scripts/install-deps bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build-bench -j $(JOBS)
	bench/run build-bench

# libFuzzer run over the credential decryption (not part of `make test`).
# New inputs go to build-fuzz/corpus, crashes to build-fuzz/crash-*; copy a
# crash into tests/fuzz/regressions/ once it is fixed.
FUZZ_SECONDS ?= 60
fuzz: deps
	scripts/install-deps fuzz
	cmake -S . -B build-fuzz -DFUZZ=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build build-fuzz --target fuzz_credential -j $(JOBS)
	mkdir -p build-fuzz/corpus
	build-fuzz/tests/fuzz_credential -max_total_time=$(FUZZ_SECONDS) -max_len=4200 \
	  -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/fuzz/corpus

clean:
	rm -rf build build-*
