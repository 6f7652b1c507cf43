# make run   - installs what is missing, builds, starts the tray application
# make test  - installs what is missing, builds, runs the whole suite headless
# make bench - builds and runs the benchmarks, printing their figures
# ASAN=1 or TSAN=1 build into a separate folder with that sanitizer.

BUILD_DIR ?= build
CMAKE_FLAGS ?=
ifeq ($(ASAN),1)
  BUILD_DIR := build-asan
  CMAKE_FLAGS += -DASAN=ON
endif
ifeq ($(TSAN),1)
  BUILD_DIR := build-tsan
  CMAKE_FLAGS += -DTSAN=ON
endif

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS); fi

build: configure
	cmake --build $(BUILD_DIR)

run: build
	scripts/run $(BUILD_DIR)

test: build
	scripts/test $(BUILD_DIR)

bench: build
	scripts/bench $(BUILD_DIR)

clean:
	rm -rf build build-asan build-tsan
