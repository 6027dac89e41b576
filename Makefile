# Thin wrapper over the install script, CMake presets and CTest.
#   make run   - install, build and process the bundled example samples
#   make test  - install, build and run the test suite
#   make asan  - the test suite under AddressSanitizer and UndefinedBehaviorSanitizer
JOBS ?= $(shell nproc)

export OMPI_ALLOW_RUN_AS_ROOT = 1
export OMPI_ALLOW_RUN_AS_ROOT_CONFIRM = 1

.PHONY: deps build test asan run clean

deps:
	bash scripts/install-deps

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

test: build
	ctest --preset release

asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

run: build
	bash scripts/run-example

clean:
	rm -rf build build-asan
