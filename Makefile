# make run     - installs what building and running need, builds, starts the tray application
# make test    - also installs what the tests need (servers left stopped), runs the suite headless
# make bench   - like test for the packages, then runs the benchmarks, printing their figures
# make install - builds and installs into $(DESTDIR)$(PREFIX) (default /usr/local)
# ASAN=1 or TSAN=1 build into a separate folder with that sanitizer.

BUILD_DIR ?= build
PREFIX ?= /usr/local
DESTDIR ?=
CMAKE_FLAGS ?=
ifeq ($(ASAN),1)
  BUILD_DIR := build-asan
  CMAKE_FLAGS += -DASAN=ON
endif
ifeq ($(TSAN),1)
  BUILD_DIR := build-tsan
  CMAKE_FLAGS += -DTSAN=ON
endif

.PHONY: all deps test-deps configure build run test bench install clean

all: build

deps:
	@scripts/install-deps

test-deps:
	@scripts/install-deps --test

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS); fi

build: configure
	cmake --build $(BUILD_DIR)

run: build
	scripts/run $(BUILD_DIR)

test: test-deps build
	scripts/test $(BUILD_DIR)

bench: test-deps build
	scripts/bench $(BUILD_DIR)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

clean:
	rm -rf build build-asan build-tsan
